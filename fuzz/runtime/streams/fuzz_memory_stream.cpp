// Memory stream under random operation sequences: each input byte pair picks
// an operation (write, read, put, get, seek, discards, claim through the
// available pointer, sizing, print, transactions) and its size. After every
// step the stream must keep 0 <= Used <= Size <= Capacity <= MaxCapacity
// (when bounded) and 0 <= Position <= Used, and its data must equal a plain
// model kept beside it. ASan catches any write past the buffer.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

std::string Contents(MemoryStream *Stream) {
    uint8 *Data = nullptr;
    if (!MemoryStream_GetPointer(Stream, &Data)) return "";
    std::string Bytes(reinterpret_cast<char *>(Data), (size_t)MemoryStream_GetUsed(Stream));
    MemoryStream_ReleasePointer(Stream, &Data);
    return Bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-memory-stream.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 2) return 0;

    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    // The first byte chooses the settings: growth, a bound, a lock.
    const uint8 Settings = Data[0];
    const int32 Bound = (Settings & 2) ? 64 + (Settings >> 3) * 97 : 0;
    MemoryStream_SetAutoGrow(Stream, Settings & 1);
    MemoryStream_SetMaxCapacity(Stream, Bound);
    MemoryStream_SetAllowLock(Stream, (Settings >> 2) & 1);

    std::string Model;
    int64 Position = 0;
    bool InTransaction = false;
    int32 TransactionStart = 0;
    std::string Scratch(70000, 'x');

    for (size_t Index = 1; Index + 1 < Size; Index += 2) {
        const uint8 Operation = Data[Index] % 13;
        const uint32 Length = (uint32)Data[Index + 1] * ((Data[Index] >> 4) + 1) * 3;
        uint32 Count = 0;
        switch (Operation) {
        case 0: // write at the position
            MemoryStream_Write(Stream, Scratch.data(), Length, &Count);
            Check(Count <= Length);
            Model.replace((size_t)Position, std::min<size_t>(Count, Model.size() - (size_t)Position),
                          Scratch.substr(0, Count));
            Position += Count;
            break;
        case 1: // put at the end
            MemoryStream_Put(Stream, Scratch.data(), Length, &Count);
            Model += Scratch.substr(0, Count);
            break;
        case 2: { // read from the position
            std::string Buffer(Length, '\0');
            const int32 Result = MemoryStream_Read(Stream, Buffer.data(), Length, &Count);
            Check(Count == std::min<uint64>(Length, Model.size() - (size_t)Position));
            Check(Result == (Count > 0));
            Check(Buffer.compare(0, Count, Model, (size_t)Position, Count) == 0);
            Position += Count;
            break;
        }
        case 3: { // get from the front, into a buffer or dropped
            std::string Buffer(Length, '\0');
            MemoryStream_Get(Stream, (Length & 1) ? Buffer.data() : nullptr, Length, &Count);
            Check(Count == std::min<uint64>(Length, Model.size()));
            if (Length & 1) Check(Buffer.compare(0, Count, Model, 0, Count) == 0);
            Model.erase(0, Count);
            break;
        }
        case 4: { // seek
            const int32 Origin = Data[Index + 1] % 4;
            const int64 Offset = (int64)Length - 300;
            int64 Target = Origin == 0 ? Offset : Origin == 1 ? Position + Offset : (int64)Model.size();
            const int32 Result = MemoryStream_Seek(Stream, Offset, Origin);
            const bool Valid = Origin < 3 && Target >= 0 && Target <= (int64)Model.size();
            Check(Result == Valid);
            if (Valid) Position = Target;
            break;
        }
        case 5: // discard from the front
            MemoryStream_DiscardBegin(Stream, (int32)Length - 100);
            Model.erase(0, (size_t)std::clamp<int64>((int64)Length - 100, 0, (int64)Model.size()));
            break;
        case 6: // discard from the end
            MemoryStream_DiscardEnd(Stream, (int32)Length - 100);
            Model.resize(Model.size() - (size_t)std::clamp<int64>((int64)Length - 100, 0, (int64)Model.size()));
            break;
        case 7: { // claim bytes written through the available pointer
            uint8 *Room = nullptr;
            const int32 Available = MemoryStream_GetAvailable(Stream);
            const int32 Claim = (int32)Length - 50;
            if (MemoryStream_GetAvailablePointer(Stream, &Room) && Claim > 0 && Claim <= Available)
                memset(Room, 'c', (size_t)Claim);
            MemoryStream_ReleasePointer(Stream, &Room);
            const int32 Result = MemoryStream_Claim(Stream, Claim);
            Check(Result == (Claim >= 0 && Claim <= Available));
            if (Result) Model.append((size_t)Claim, 'c');
            break;
        }
        case 8: { // resize, keeping the data or not
            const int32 Keep = Data[Index + 1] & 1;
            if (InTransaction) break;
            if (MemoryStream_Size(Stream, (int32)Length, Keep, (Data[Index + 1] >> 1) & 1)) {
                const int32 NewSize = MemoryStream_GetSize(Stream);
                if (Keep && Length > 0)
                    Model.resize(std::min<size_t>(Model.size(), (size_t)NewSize));
                else
                    Model.clear();
                if (!Keep || Length == 0) Position = 0;
            }
            break;
        }
        case 9: { // formatted text behind the data
            const int32 Width = (int32)(Length % 340); // the engine caps widths at 340
            if (MemoryStream_Print(Stream, "%*d", Width, 7)) {
                std::string Text = std::to_string(7);
                if ((int32)Text.size() < Width) Text.insert(0, (size_t)Width - Text.size(), ' ');
                Model += Text;
            }
            break;
        }
        case 10: // transaction start (or commit)
            if (InTransaction) {
                MemoryStream_TransactionEnd(Stream, 0);
                InTransaction = false;
            } else {
                MemoryStream_TransactionStart(Stream);
                InTransaction = true;
                TransactionStart = (int32)Model.size();
            }
            break;
        case 11: // rollback
            if (InTransaction) {
                MemoryStream_TransactionEnd(Stream, 1);
                InTransaction = false;
                Model.resize(std::min<size_t>(Model.size(), (size_t)TransactionStart));
            }
            break;
        default: // discard everything
            MemoryStream_DiscardAll(Stream);
            Model.clear();
            break;
        }
        Position = std::min<int64>(Position, (int64)Model.size());

        const int32 Used = MemoryStream_GetUsed(Stream), StreamSize = MemoryStream_GetSize(Stream);
        const int32 Capacity = MemoryStream_GetCapacity(Stream);
        int64 At = -1;
        MemoryStream_Tell(Stream, &At);
        Check(0 <= Used && Used <= StreamSize && StreamSize <= Capacity);
        Check(Bound == 0 || Capacity <= Bound);
        Check(At == Position && At <= Used);
        Check(Used == (int32)Model.size());
        Check(MemoryStream_TransactionActive(Stream) == InTransaction);
    }
    Check(Contents(Stream) == Model);
    if (InTransaction) MemoryStream_TransactionEnd(Stream, 0);
    MemoryStream_Delete(&Stream);
    return 0;
}

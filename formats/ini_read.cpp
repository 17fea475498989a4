// INI reader: lines are collected with their escapes resolved, then taken as
// a comment, a section header or a key=value pair. Blank lines are skipped
// and not counted; line numbers in messages count the lines read from 1.
#include <string.h>

#include <new>

#include "formats/ini.h"
#include "formats/ini_internal.h"
#include "runtime/memory.h"

namespace {

constexpr int32 ChunkSize = 4096;

class Reader {
  public:
    explicit Reader(Ini *Object) : I(Object), Current(Object->Dict) {}

    // One chunk of input; false after a malformed line.
    bool Feed(const char *Bytes, int32 Length) {
        for (int32 i = 0; i < Length; i++) {
            const char Character = Bytes[i];
            if (Character == '\r' || Character == '\n') {
                if (Escape) Put('\\');
                Escape = false;
                if (InLine && !EndLine()) return false;
                continue;
            }
            InLine = true;
            if (Escape) {
                Escape = false;
                if (!PutEscaped(Character)) return false;
            } else if (Character == '\\') {
                Escape = true;
            } else if (!Put(Character)) {
                return false;
            }
        }
        return true;
    }

    // The end of the input ends a last line without a line end.
    bool Finish() {
        if (Escape && !Put('\\')) return false;
        Escape = false;
        return !InLine || EndLine();
    }

  private:
    Ini *I;
    Dictionary *Current;
    char Line[INI_MAX_LINE + 1];
    int32 Used = 0;
    int32 LineNumber = 0;
    bool InLine = false;
    bool Escape = false;

    bool Put(char Character) {
        if (Used >= INI_MAX_LINE) {
            Ini_Print(I, "Line too long [%d @ Line %d]", Used + 1, LineNumber + 1);
            return false;
        }
        Line[Used++] = Character;
        return true;
    }

    bool PutEscaped(char Character) {
        switch (Character) {
            case ':':
            case ';':
            case '\\': return Put(Character);
            case 'n': return Put('\n');
            case 'r': return Put('\r');
            case 't': return Put('\t');
            default: return Put('\\') && Put(Character);
        }
    }

    bool EndLine() {
        InLine = false;
        LineNumber++;
        Line[Used] = 0;
        const int32 Length = Used;
        Used = 0;
        if (Line[0] == ';') {
            Ini_VerboseLog(I, INI_VERBOSELEVEL_PARSE, "Found comment [%s @ Line %d]", Line, LineNumber);
            return true;
        }
        if (Line[0] == '[') return Section(Length);
        return Pair(Length);
    }

    // A Dictionary keeps keys of at most DICTIONARY_MAX_KEY_LENGTH bytes
    // without a NUL: a section or key name that does not fit fails the
    // load, since cutting it would make two names one.
    bool KeyFits(const char *Name, int32 Length) {
        if (memchr(Name, 0, (size_t)Length) != nullptr) {
            Ini_Print(I, "Key holds a NUL [@ Line %d]", LineNumber);
            return false;
        }
        if (Dictionary_KeptKeyLength(I->Dict, Name, Length) > DICTIONARY_MAX_KEY_LENGTH) {
            Ini_Print(I, "Key of %d bytes exceeds the %d-byte key limit [@ Line %d]", Length,
                      DICTIONARY_MAX_KEY_LENGTH, LineNumber);
            return false;
        }
        return true;
    }

    bool Section(int32 Length) {
        const char *Close = static_cast<const char *>(memchr(Line, ']', (size_t)Length));
        if (Close == nullptr) {
            Ini_Print(I, "Malformed section header [%s @ Line %d]", Line, LineNumber);
            return false;
        }
        if (!KeyFits(Line + 1, (int32)(Close - Line) - 1)) return false;
        Line[Close - Line] = 0;
        const char *Name = Line + 1;
        Ini_VerboseLog(I, INI_VERBOSELEVEL_PARSE, "Found section [%s @ Line %d]", Name, LineNumber);
        Dictionary *Root = I->Dict;
        // Only a Dictionary item of that name is the section; a String item
        // of the same key before it is passed over.
        DictionaryItem *Section = nullptr;
        DictionaryItem *From = nullptr;
        bool More = Dictionary_ItemGetFirst(Root, &From) != 0;
        while (More && Section == nullptr) {
            DictionaryItem *Item = nullptr;
            if (!Dictionary_ItemFindByKey(Root, Name, From, &Item)) break;
            if (Dictionary_ItemCompareType(Root, Item, DICTIONARY_TYPE_DICTIONARY))
                Section = Item;
            else
                More = Dictionary_ItemGetNext(Root, Item, &From) != 0;
        }
        if (Section == nullptr) Dictionary_AddDictionary(Root, Name, nullptr, &Section);
        Dictionary_ItemGetDictionaryHandle(Root, Section, &Current);
        return true;
    }

    bool Pair(int32 Length) {
        const char *Equals = static_cast<const char *>(memchr(Line, '=', (size_t)Length));
        if (Equals == nullptr) {
            Ini_Print(I, "Malformed key/value pair format [%s @ Line %d]", Line, LineNumber);
            return false;
        }
        const int32 KeyLength = (int32)(Equals - Line);
        const char *Value = Equals + 1;
        const int32 ValueLength = Length - KeyLength - 1;
        if (KeyLength == 0 || ValueLength == 0) return true;
        if (!KeyFits(Line, KeyLength)) return false;
        Line[KeyLength] = 0;
        if (Value[0] == ';')
            Ini_VerboseLog(I, INI_VERBOSELEVEL_PARSE, "Found comment [%s @ Line %d]", Value, LineNumber);
        else
            Ini_VerboseLog(I, INI_VERBOSELEVEL_PARSE, "Found parameter [%s=%s @ Line %d]", Line, Value, LineNumber);
        DictionaryItem *Item = nullptr;
        Dictionary_Add(Current, Line, &Item);
        Dictionary_ItemSetType(Current, Item, DICTIONARY_TYPE_STRING);
        Dictionary_ItemSetBuffer(Current, Item, Value, ValueLength);
        return true;
    }
};

} // namespace

int32 Ini_LoadStream(Ini *Handle, StreamStruct *Stream) {
    Ini_Check(Handle);
    Debug_CheckPointer(Stream);
    if (Handle->Dict == nullptr) return FALSE;
    // The line buffer is too large for small thread stacks.
    Reader *Read = new (Memory_Alloc((int32)sizeof(Reader))) Reader(Handle);
    char Chunk[ChunkSize];
    bool Good = true;
    for (;;) {
        uint32 Got = 0;
        const int32 Result = Stream_Read(Stream, Chunk, sizeof(Chunk), &Got);
        if (Got > sizeof(Chunk)) Got = sizeof(Chunk);
        if (Got > 0 && !Read->Feed(Chunk, (int32)Got)) {
            Good = false;
            break;
        }
        if (!Result || Got == 0) break;
    }
    if (Good) Good = Read->Finish();
    Read->~Reader();
    Memory_Free(Read, (int32)sizeof(Reader));
    return Good && !Stream_HasError(Stream);
}

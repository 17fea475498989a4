// ELF section lookup (see elf_file.h). The section-header table is read with
// the entry size of the file's class only: a file whose header names another
// entry size, a name-table index outside the table, or a table that does not
// lie inside the file has no sections to find.
#include "content/elf_file.h"

#include <string.h>

#include <algorithm>
#include <bit>
#include <string>

#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/text/string.h"

namespace {

struct Header {
    int Class = 0;
    bool Big = false;
    uint64 Table = 0, EntrySize = 0, Count = 0, NamesIndex = 0;
};

bool ReadHeader(const ExecutableSource &File, Header &Out) {
    uint8 Bytes[64];
    if (!File.Read(0, Bytes, 18) || memcmp(Bytes, "\x7f" "ELF", 4) != 0 || (Bytes[4] != 1 && Bytes[4] != 2))
        return false;
    Out.Class = Bytes[4];
    Out.Big = Bytes[5] == 2;
    const bool Wide = Out.Class == 2;
    if (!File.Read(0, Bytes, Wide ? 64 : 52)) return false;
    auto Field = [&](int At, int Width) { return ExecutableSource_Number(Bytes + At, Width, Out.Big); };
    Out.Table = Wide ? Field(0x28, 8) : Field(0x20, 4);
    Out.EntrySize = Field(Wide ? 0x3a : 0x2e, 2);
    Out.Count = Field(Wide ? 0x3c : 0x30, 2);
    Out.NamesIndex = Field(Wide ? 0x3e : 0x32, 2);
    return true;
}

struct Section {
    uint64 Name, Offset, Size;
};

bool ReadSection(const ExecutableSource &File, const Header &Head, uint64 Index, Section &Out) {
    const bool Wide = Head.Class == 2;
    uint8 Entry[64];
    if (!File.Read(Head.Table + Index * Head.EntrySize, Entry, Wide ? 64 : 40)) return false;
    auto Field = [&](int At, int Width) { return ExecutableSource_Number(Entry + At, Width, Head.Big); };
    Out = Wide ? Section{Field(0, 4), Field(0x18, 8), Field(0x20, 8)} : Section{Field(0, 4), Field(0x10, 4), Field(0x14, 4)};
    return true;
}

template <typename Work> int32 WithPath(const char *Path, Work &&Body) {
    ExecutableFile File(Path);
    return File.IsOpen() && Body(File.Source()) ? TRUE : FALSE;
}

} // namespace

int ElfFile_Class(const ExecutableSource &File) {
    Header Head;
    return ReadHeader(File, Head) ? Head.Class : 0;
}

int ElfFile_FindSection(const ExecutableSource &File, std::string_view Name, uint64 &Offset, uint64 &Size) {
    Offset = Size = 0;
    Header Head;
    if (!ReadHeader(File, Head)) return 0;
    const uint64 Entry = Head.Class == 2 ? 64 : 40;
    // The whole table must lie in the file; the counts are 16-bit, so the
    // product cannot overflow.
    Section Names;
    if (Head.EntrySize != Entry || Head.NamesIndex >= Head.Count ||
        !ExecutableSource_Inside(Head.Table, Head.Count * Entry, File.Size) ||
        !ReadSection(File, Head, Head.NamesIndex, Names) || !ExecutableSource_Inside(Names.Offset, Names.Size, File.Size))
        return 0;
    // Of each name only the length looked for and the byte after it are
    // read and compared, never the name's own length: in a name table
    // without terminators that would be the rest of the table, once for
    // every section. So the lookup costs a few bytes a section, whatever
    // the table's size.
    std::string Text(Name.size() + 1, '\0');
    for (uint64 Index = 0; Index < Head.Count; Index++) {
        Section Item;
        if (!ReadSection(File, Head, Index, Item)) return 0;
        if (Item.Name >= Names.Size || Names.Size - Item.Name < Name.size()) continue;
        const uint64 Length = std::min<uint64>(Name.size() + 1, Names.Size - Item.Name);
        if (!File.Read(Names.Offset + Item.Name, Text.data(), Length)) return 0;
        if (Length > Name.size() && Text[Name.size()] != 0) continue;
        if (String_CompareLengthWithoutCase(Text.data(), Name.data(), (int32)Name.size())) {
            Offset = Item.Offset;
            Size = Item.Size;
            return Head.Class;
        }
    }
    return 0;
}

bool ElfFile_ReadInfo(const ExecutableSource &File, Dictionary *Dict) {
    uint64 Offset, Size;
    std::string Text;
    if (!ElfFile_FindSection(File, ".version.json", Offset, Size) || Size == 0 || Size > INT32_MAX ||
        !ExecutableSource_ReadRange(File, Offset, Size, Text))
        return false;
    // A section stamped from a C string ends in its terminator.
    while (!Text.empty() && Text.back() == 0) Text.pop_back();
    Dictionary *Document = nullptr;
    JSON *Parser = nullptr;
    Dictionary_Create(&Document);
    JSON_Create(&Parser);
    JSON_SetDictionaryHandle(Parser, Document);
    DictionaryItem *Root = nullptr;
    Dictionary *Object = nullptr;
    const bool Loaded = JSON_LoadBuffer(Parser, Text.data(), (int32)Text.size()) &&
                        Dictionary_ItemGetFirst(Document, &Root) && Root != nullptr &&
                        Dictionary_ItemGetDictionaryHandle(Document, Root, &Object) && Object != nullptr;
    if (Loaded) {
        Dictionary_SetCaseSensitive(Dict, FALSE);
        Dictionary_Merge(Dict, Object, DICTIONARY_MERGE_OVERWRITE);
    }
    JSON_Delete(&Parser);
    Dictionary_Release(&Document);
    return Loaded;
}

int32 ELFFile_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    return WithPath(Path, [](const ExecutableSource &File) { return ElfFile_Class(File) != 0; });
}

int32 ELFFile_IsValidStream(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    return ElfFile_Class(ExecutableSource_FromStream(Stream)) != 0 ? TRUE : FALSE;
}

int32 ELFFile_GetSectionOffset(StreamStruct *Stream, const char *Name, uint64 *Offset, uint64 *Size) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Offset);
    Debug_CheckPointer(Size);
    return ElfFile_FindSection(ExecutableSource_FromStream(Stream), Name, *Offset, *Size);
}

int32 ELFFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size) {
    if (ELFFile_GetSectionOffset(Stream, ".datastore", Offset, Size) && *Size != 0) return TRUE;
    *Offset = *Size = 0;
    return FALSE;
}

int32 ELFFile_GetInfoDictionary(const char *Path, Dictionary *Dict) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Dict);
    return WithPath(Path, [Dict](const ExecutableSource &File) { return ElfFile_ReadInfo(File, Dict); });
}

int32 ELFFile_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    const int32 Found = ELFFile_GetInfoDictionary(Path, Values) && Dictionary_GetStringByKey(Values, Key, Out, Size);
    Dictionary_Release(&Values);
    return Found ? TRUE : FALSE;
}

static_assert(std::endian::native == std::endian::little, "headers are copied in file order and then turned");

int32 ELFFile_GetHeaders(StreamStruct *Stream, Elf32_Ehdr *Header32, Elf64_Ehdr *Header64) {
    Debug_CheckPointer(Stream);
    if (Header32 != nullptr) *Header32 = {};
    if (Header64 != nullptr) *Header64 = {};
    const ExecutableSource File = ExecutableSource_FromStream(Stream);
    Header Head;
    uint8 Bytes[sizeof(Elf64_Ehdr)];
    if (!ReadHeader(File, Head)) return 0;
    const bool Wide = Head.Class == 2;
    if (!File.Read(0, Bytes, Wide ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr))) return 0;
    if (Wide && Header64 != nullptr) {
        memcpy(Header64, Bytes, sizeof(Elf64_Ehdr));
        Header64->e_shoff = Head.Table;
        Header64->e_shentsize = (Elf64_Half)Head.EntrySize;
        Header64->e_shnum = (Elf64_Half)Head.Count;
        Header64->e_shstrndx = (Elf64_Half)Head.NamesIndex;
    } else if (!Wide && Header32 != nullptr) {
        memcpy(Header32, Bytes, sizeof(Elf32_Ehdr));
        Header32->e_shoff = (Elf32_Off)Head.Table;
        Header32->e_shentsize = (Elf32_Half)Head.EntrySize;
        Header32->e_shnum = (Elf32_Half)Head.Count;
        Header32->e_shstrndx = (Elf32_Half)Head.NamesIndex;
    }
    return Head.Class;
}

int32 ELFFile_ReadSection(StreamStruct *Stream, const void *Header, Elf32_Shdr *Section32, Elf64_Shdr *Section64) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Header);
    const auto *Identification = static_cast<const uint8 *>(Header);
    const int Class = Identification[EI_CLASS];
    if (memcmp(Identification, ELFMAG, SELFMAG) != 0 || (Class != ELFCLASS32 && Class != ELFCLASS64)) return FALSE;
    const bool Wide = Class == ELFCLASS64, Big = Identification[EI_DATA] == ELFDATA2MSB;
    uint8 Entry[sizeof(Elf64_Shdr)];
    const uint32 Length = Wide ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    uint32 Count = 0;
    if (!Stream_Read(Stream, Entry, Length, &Count) || Count != Length) return FALSE;
    auto Field = [&](int At, int Width) { return ExecutableSource_Number(Entry + At, Width, Big); };
    if (Wide && Section64 != nullptr) {
        memcpy(Section64, Entry, Length);
        Section64->sh_name = (Elf64_Word)Field(0, 4);
        Section64->sh_offset = Field(0x18, 8);
        Section64->sh_size = Field(0x20, 8);
    } else if (!Wide && Section32 != nullptr) {
        memcpy(Section32, Entry, Length);
        Section32->sh_name = (Elf32_Word)Field(0, 4);
        Section32->sh_offset = (Elf32_Off)Field(0x10, 4);
        Section32->sh_size = (Elf32_Word)Field(0x14, 4);
    }
    return TRUE;
}

// INI writer: the top-level values, a blank line, then each section with its
// values and a blank line. Tab, line feed, carriage return and backslash are
// written as escapes in keys, section names and values, so they read back as
// written. What an INI line cannot carry is left out with a log line rather
// than written in a form that reads back as something else: a key that is
// empty, starts with ";" (a comment) or "[" (a section) or holds "=" (the
// split), and a section name holding "]".
#include <string.h>

#include "formats/ini.h"
#include "formats/ini_internal.h"

namespace {

class Writer {
  public:
    Writer(Ini *Object, StreamStruct *Stream) : I(Object), Stream(Stream) {}

    bool Save() {
        Dictionary *Root = I->Dict;
        if (Values(Root) > 0) Put(I->LineEnding);
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Root, &Item); Have && !Failed;
             Have = Dictionary_ItemGetNext(Root, Item, &Item)) {
            if (!Dictionary_ItemCompareType(Root, Item, DICTIONARY_TYPE_DICTIONARY)) continue;
            const char *Name = nullptr;
            if (!Dictionary_ItemGetKeyPtr(Root, Item, &Name) || Name == nullptr) continue;
            if (strchr(Name, ']') != nullptr) {
                Ini_Print(I, "Section name cannot be written [%s]", Name);
                continue;
            }
            Put("[");
            Escaped(Name, (int32)strlen(Name));
            Put("]");
            Put(I->LineEnding);
            Dictionary *Section = nullptr;
            Dictionary_ItemGetDictionaryHandle(Root, Item, &Section);
            Values(Section);
            Put(I->LineEnding);
        }
        return !Failed;
    }

  private:
    Ini *I;
    StreamStruct *Stream;
    bool Failed = false;

    void Put(const char *Text, int32 Length) {
        if (Failed || Length <= 0) return;
        uint32 Count = 0;
        if (!Stream_Write(Stream, Text, (uint32)Length, &Count) || Count != (uint32)Length) Failed = true;
    }

    void Put(const char *Text) { Put(Text, (int32)strlen(Text)); }

    void Escaped(const char *Text, int32 Length) {
        int32 Plain = 0;
        for (int32 i = 0; i < Length; i++) {
            const char *Escape = nullptr;
            switch (Text[i]) {
                case '\t': Escape = "\\t"; break;
                case '\n': Escape = "\\n"; break;
                case '\r': Escape = "\\r"; break;
                case '\\': Escape = "\\\\"; break;
                default: continue;
            }
            Put(Text + Plain, i - Plain);
            Put(Escape, 2);
            Plain = i + 1;
        }
        Put(Text + Plain, Length - Plain);
    }

    static bool KeyReadsBack(const char *Key) {
        return Key[0] != 0 && Key[0] != ';' && Key[0] != '[' && strchr(Key, '=') == nullptr;
    }

    // The non-container items of Container; answers how many were written.
    int32 Values(Dictionary *Container) {
        int32 Written = 0;
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Container, &Item); Have && !Failed;
             Have = Dictionary_ItemGetNext(Container, Item, &Item)) {
            if (Dictionary_ItemIsContainer(Container, Item)) continue;
            const char *Key = nullptr;
            const char *Text = nullptr;
            int32 Length = 0;
            if (!Dictionary_ItemGetKeyPtr(Container, Item, &Key) || Key == nullptr) continue;
            if (!Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length) || Text == nullptr || Length <= 0)
                continue;
            if (!KeyReadsBack(Key)) {
                Ini_Print(I, "Key cannot be written [%s]", Key);
                continue;
            }
            Escaped(Key, (int32)strlen(Key));
            Put("=");
            Escaped(Text, Length);
            Put(I->LineEnding);
            Written++;
        }
        return Written;
    }
};

} // namespace

int32 Ini_SaveStream(Ini *Handle, StreamStruct *Stream) {
    Ini_Check(Handle);
    Debug_CheckPointer(Stream);
    if (Handle->Dict == nullptr) return FALSE;
    Writer Out(Handle, Stream);
    return Out.Save();
}

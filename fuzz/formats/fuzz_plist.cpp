// The property-list conversion on arbitrary bytes read as XML (blanks kept,
// as property-list files are read). Checks:
//   - the conversion answers 1 or 0 and never reads or writes out of bounds;
//   - what converts saves as property-list elements, and that output, read
//     and converted again, gives the same typed tree (strings byte for byte,
//     integers, reals by their shortest text, Booleans, arrays, dicts).
#include <stdint.h>
#include <string.h>

#include <string>

#include "formats/plist.h"
#include "formats/xml.h"
#include "formats/xml_internal.h"
#include "fuzz/formats/tree_text.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

// Reads Text as XML and converts the plist element's content into Into.
int32 Convert(Plist *List, const char *Bytes, int32 Length, Dictionary *Into) {
    XML *Xml = nullptr;
    XML_Create(&Xml);
    XML_SetPrintCallback(Xml, nullptr, Quiet);
    XmlInternal_SetKeepBlanks(Xml, 1);
    Dictionary *Doc = nullptr;
    Dictionary_Create(&Doc);
    Dictionary_SetPrintCallback(Doc, nullptr, Quiet);
    XML_SetDictionaryHandle(Xml, Doc);
    int32 Result = XML_LoadBuffer(Xml, Bytes, Length);
    Dictionary *Content = nullptr;
    const char *Text = nullptr;
    if (Result && !Dictionary_GetDictionaryByKey(Doc, "plist", &Content)) {
        // An element holding only blanks collapsed into a String: empty.
        Result = Dictionary_GetStringPtrByKey(Doc, "plist", &Text) && Text[strspn(Text, " \t\r\n")] == 0;
    } else if (Result) {
        Result = Plist_LoadDictionary(List, Content, Into);
    }
    XML_Release(&Xml);
    Dictionary_Release(&Doc);
    return Result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-plist.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 20) return 0;
    Plist *List = nullptr;
    Plist_Create(&List);
    Plist_SetPrintCallback(List, nullptr, Quiet);
    Dictionary *First = nullptr;
    Dictionary_Create(&First);
    Dictionary_SetPrintCallback(First, nullptr, Quiet);
    const int32 Converted = Convert(List, reinterpret_cast<const char *>(Data), (int32)Size, First);
    Check(Converted == 0 || Converted == 1);
    if (Converted) {
        // Our elements, written as XML and read again.
        Dictionary *Doc = nullptr;
        Dictionary_Create(&Doc);
        Dictionary_SetPrivateKeys(Doc, 0);
        Dictionary *Element = nullptr;
        XML_AddElement(Doc, "plist", &Element, nullptr);
        Check(Plist_SaveDictionary(List, First, Element) == 1);
        XML *Xml = nullptr;
        XML_Create(&Xml);
        XML_SetDictionaryHandle(Xml, Doc);
        XML_SetMinify(Xml, (int32)(Size & 1));
        int32 Bytes = 0;
        XML_SaveBufferEstimate(Xml, &Bytes);
        std::string Saved((size_t)Bytes, '\0');
        int32 Written = 0;
        XML_SaveBuffer(Xml, Saved.data(), Bytes, &Written);
        XML_Release(&Xml);
        Dictionary_Release(&Doc);
        Dictionary *Second = nullptr;
        Dictionary_Create(&Second);
        Dictionary_SetPrintCallback(Second, nullptr, Quiet);
        Check(Convert(List, Saved.data(), Written, Second) == 1);
        std::string A, B;
        TreeText(First, A);
        TreeText(Second, B);
        Check(A == B);
        Dictionary_Release(&Second);
    }
    Dictionary_Release(&First);
    Plist_Release(&List);
    return 0;
}

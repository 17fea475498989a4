// Application bundles (see app_bundle.h).
#include "content/app_bundle.h"

#include <string.h>
#include <sys/stat.h>

#include <string>

#include "content/macho_file.h"
#include "formats/plist.h"
#include "runtime/debug.h"
#include "runtime/text/string.h"

namespace {

std::string PlistPath(const char *Path) {
    std::string Folder(Path);
    while (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
    const bool Framework = String_CompareEndingWithoutCase(Folder.c_str(), ".framework");
    if (!Framework && !String_CompareEndingWithoutCase(Folder.c_str(), ".app")) return {};
    return Folder + (Framework ? "/Resources/Info.plist" : "/Contents/Info.plist");
}

bool Copy(const std::string &Text, char *Out, int32 Size) {
    if (Text.empty() || (int64)Text.size() >= Size) return false;
    String_CopyLength(Out, Text.c_str(), Size);
    return true;
}

// The first of the keys the plist holds, copied under Name.
void Pick(Dictionary *Plist, Dictionary *Dict, const char *Name, std::initializer_list<const char *> Keys) {
    char Value[1024];
    for (const char *Key : Keys)
        if (Dictionary_GetStringByKey(Plist, Key, Value, sizeof(Value))) {
            Dictionary_SetStringByKey(Dict, Name, Value);
            return;
        }
}

} // namespace

int32 AppBundle_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    const std::string Plist = PlistPath(Path);
    struct stat Status;
    return !Plist.empty() && stat(Plist.c_str(), &Status) == 0 && S_ISREG(Status.st_mode) ? TRUE : FALSE;
}

int32 AppBundle_GetInfoPlistPath(const char *Path, char *Out, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    return Copy(PlistPath(Path), Out, Size) ? TRUE : FALSE;
}

int32 AppBundle_GetExecutablePath(const char *Path, char *Out, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    if (!AppBundle_IsValid(Path)) return FALSE;
    std::string Folder(Path);
    while (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
    char Name[1024] = "";
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    if (!AppBundle_GetInfoDictionary(Folder.c_str(), Values) ||
        !Dictionary_GetStringByKey(Values, "CFBundleExecutable", Name, sizeof(Name)) || Name[0] == 0) {
        const size_t Slash = Folder.rfind('/') + 1, Dot = Folder.rfind('.');
        String_CopyLength(Name, Folder.substr(Slash, Dot - Slash).c_str(), sizeof(Name));
    }
    Dictionary_Release(&Values);
    if (strchr(Name, '/') != nullptr) return FALSE;
    return Copy(Folder + "/Contents/MacOS/" + Name, Out, Size) ? TRUE : FALSE;
}

int32 AppBundle_GetInfoDictionary(const char *Path, Dictionary *Dict) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Dict);
    if (!AppBundle_IsValid(Path)) {
        char Bundle[4096];
        if (!MachOFile_GetAppBundlePath(Path, Bundle, sizeof(Bundle)) || strcmp(Bundle, Path) == 0) return FALSE;
        return AppBundle_GetInfoDictionary(Bundle, Dict);
    }
    Dictionary *Values = nullptr;
    Plist *Reader = nullptr;
    Dictionary_Create(&Values);
    Plist_Create(&Reader);
    Plist_SetDictionaryHandle(Reader, Values);
    // A page or a document names the bundle: its list is read only within
    // a bound, so that a huge (or sparse) file costs neither time nor memory.
    Plist_SetReadLimit(Reader, APPBUNDLE_INFO_MOST);
    DictionaryItem *Root = nullptr;
    Dictionary *Top = nullptr;
    const bool Loaded = Plist_Load(Reader, PlistPath(Path).c_str()) && Dictionary_ItemGetFirst(Values, &Root) &&
                        Root != nullptr && Dictionary_ItemGetDictionaryHandle(Values, Root, &Top) && Top != nullptr;
    if (Loaded) {
        Dictionary *Values = Top;
        Pick(Values, Dict, "FileVersion", {"CFBundleVersion"});
        Pick(Values, Dict, "ProductVersion", {"CFBundleShortVersionString", "CFBundleVersion"});
        Pick(Values, Dict, "ProductName", {"CFBundleName", "CFBundleExecutable"});
        Pick(Values, Dict, "LegalCopyright", {"NSHumanReadableCopyright", "CFBundleGetInfoString"});
        Pick(Values, Dict, "CompanyName", {"CFBundleCompanyName"});
        Dictionary_Merge(Dict, Values, DICTIONARY_MERGE_OVERWRITE);
    }
    Plist_Delete(&Reader);
    Dictionary_Release(&Values);
    return Loaded ? TRUE : FALSE;
}

int32 AppBundle_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    Dictionary_SetCaseSensitive(Values, FALSE);
    const int32 Found = AppBundle_GetInfoDictionary(Path, Values) && Dictionary_GetStringByKey(Values, Key, Out, Size);
    Dictionary_Release(&Values);
    return Found ? TRUE : FALSE;
}

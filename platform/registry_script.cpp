// Dispatcher of "TQX.Registry": parameters in their declared order, then one
// registry helper; its answer becomes "returnValue". 64-bit values cross
// whole in both directions.
#include "platform/registry_script.h"

#include <string.h>

#include <vector>

#include "platform/registry.h"
#include "runtime/memory.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"

namespace {

constexpr const char *ClassName = "Registry";
// The store itself holds at most 64 MiB.
constexpr size_t LongestValue = 64u << 20;

// The common parameters: "view", ["security",] "type", "key" [, "name"].
ApiGenParameters &Where(ApiGenParameters &Get, const char **View, const char **Type, const char **Key) {
    return Get.Text("view", View).Text("type", Type).Text("key", Key);
}

// A Base64 text decoded into a runtime block, freed at the end of the scope.
struct Decoded {
    uint8 *Bytes = nullptr;
    int32 Length = 0, Size = 0;
    bool From(const char *Text) { return ApiGen_CreateBase64DecodedBuffer(Text, &Bytes, &Length, &Size) == TRUE; }
    ~Decoded() { ApiGen_DeleteBase64DecodedBuffer(&Bytes, &Size); }
};

enum class Shape { Boolean, Text, Int32, Int64, Data };

void WriteNull(Dictionary *Result) {
    DictionaryItem *Item = nullptr;
    if (Dictionary_ItemFindByKey(Result, "returnValue", nullptr, &Item)) Dictionary_Remove(Result, &Item);
    Dictionary_AddNull(Result, "returnValue", nullptr);
}

// Runs the method; false for a selector the class does not have. Sets Ok
// to false when a parameter or its Base64 text could not be read.
bool Dispatch(uint32 Hash, ApiGenParameters &Get, Dictionary *Result, bool &Ok) {
    const char *View, *Security, *Type, *Key, *Name, *Text;
    int32 Narrow = 0;
    int64 Wide = 0;
    int32 Answer = 0;
    Shape Kind = Shape::Boolean;
    char Buffer[APIGEN_TEXT_SIZE] = "";
    auto Values = [&]() -> ApiGenParameters & { return Get.Text("view", &View); };
    switch (Hash) {
    case Crc32Const("keyExists"):
        if (Where(Get, &View, &Type, &Key).Read) Answer = Registry_HelperDoesExist(View, Type, Key);
        break;
    case Crc32Const("deleteKey"):
        if (Where(Get, &View, &Type, &Key).Read) Answer = Registry_HelperDeleteKey(View, Type, Key);
        break;
    case Crc32Const("deleteValue"):
        if (Where(Get, &View, &Type, &Key).Text("name", &Name).Read)
            Answer = Registry_HelperDeleteValue(View, Type, Key, Name);
        break;
    case Crc32Const("getString"):
        Kind = Shape::Text;
        if (Where(Get, &View, &Type, &Key).Text("name", &Name).Text("defaultValue", &Text).Read) {
            Registry_HelperGetString(View, Type, Key, Name, Text, Buffer, (int32)sizeof(Buffer));
            if (strlen(Buffer) < sizeof(Buffer) - 1) break;
            // A value that filled the answer may go on: it is read again
            // whole, since a page given the first 8,191 bytes would store
            // them back as the value.
            std::vector<char> Whole(sizeof(Buffer));
            do {
                Whole.resize(Whole.size() * 2);
                Registry_HelperGetString(View, Type, Key, Name, Text, Whole.data(), (int32)Whole.size());
            } while (strlen(Whole.data()) == Whole.size() - 1 && Whole.size() <= LongestValue);
            if (strlen(Whole.data()) < Whole.size() - 1) {
                Dictionary_SetStringByKey(Result, "returnValue", Whole.data());
                return true;
            }
            Buffer[0] = 0; // longer than any store holds: no cut value
            Ok = false;
        }
        break;
    case Crc32Const("getInt32"):
        Kind = Shape::Int32;
        if (Where(Get, &View, &Type, &Key).Text("name", &Name).Int32("defaultValue", &Narrow).Read)
            Registry_HelperGetInt32(View, Type, Key, Name, Narrow, &Narrow);
        break;
    case Crc32Const("getInt64"):
        Kind = Shape::Int64;
        if (Where(Get, &View, &Type, &Key).Text("name", &Name).Int64("defaultValue", &Wide).Read)
            Registry_HelperGetInt64(View, Type, Key, Name, Wide, &Wide);
        break;
    case Crc32Const("getData"): {
        Kind = Shape::Data;
        Decoded Default;
        if (!Where(Get, &View, &Type, &Key).Text("name", &Name).Text("defaultValue", &Text).Read) break;
        if (!Default.From(Text)) {
            Ok = false;
            break;
        }
        uint8 *Data = nullptr;
        int32 Length = 0;
        if (Registry_HelperGetData(View, Type, Key, Name, Default.Bytes, Default.Length, &Data, &Length)) {
            char *Encoded = nullptr;
            int32 Size = 0;
            if (ApiGen_CreateBase64EncodedBuffer(Data, Length, &Encoded, &Size)) {
                Dictionary_SetStringByKey(Result, "returnValue", Encoded);
                Kind = Shape::Text;
                Buffer[0] = 0;
                ApiGen_DeleteBase64EncodedBuffer(&Encoded, &Size);
                Registry_HelperReleaseData(View, Type, Key, Name, Default.Bytes, Default.Length, &Data, &Length);
                return true;
            }
        }
        Registry_HelperReleaseData(View, Type, Key, Name, Default.Bytes, Default.Length, &Data, &Length);
        break;
    }
    case Crc32Const("setString"):
        if (Values().Text("security", &Security).Text("type", &Type).Text("key", &Key).Text("name", &Name)
                .Text("value", &Text)
                .Read)
            Answer = Registry_HelperSetString(View, Security, Type, Key, Name, Text);
        break;
    case Crc32Const("setInt32"):
        if (Values().Text("security", &Security).Text("type", &Type).Text("key", &Key).Text("name", &Name)
                .Int32("value", &Narrow)
                .Read)
            Answer = Registry_HelperSetInt32(View, Security, Type, Key, Name, Narrow);
        break;
    case Crc32Const("setInt64"):
        if (Values().Text("security", &Security).Text("type", &Type).Text("key", &Key).Text("name", &Name)
                .Int64("value", &Wide)
                .Read)
            Answer = Registry_HelperSetInt64(View, Security, Type, Key, Name, Wide);
        break;
    case Crc32Const("setData"): {
        Decoded Value;
        if (!Values().Text("security", &Security).Text("type", &Type).Text("key", &Key).Text("name", &Name)
                 .Text("value", &Text)
                 .Read)
            break;
        if (!Value.From(Text)) {
            Ok = false;
            break;
        }
        Answer = Registry_HelperSetData(View, Security, Type, Key, Name, Value.Bytes, Value.Length);
        break;
    }
    default:
        return false;
    }
    if (!Get.Read) Ok = false;
    switch (Kind) {
    case Shape::Boolean: Dictionary_SetBooleanByKey(Result, "returnValue", Answer == 1); break;
    case Shape::Text: Dictionary_SetStringByKey(Result, "returnValue", Buffer); break;
    case Shape::Int32: Dictionary_SetInt32ByKey(Result, "returnValue", Narrow); break;
    case Shape::Int64: Dictionary_SetInt64ByKey(Result, "returnValue", Wide); break;
    case Shape::Data: WriteNull(Result); break;
    }
    return true;
}

} // namespace

extern "C" int32 Registry_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    const char *Method = nullptr;
    uint32 Hash = 0;
    if (!ApiGen_GetMethod(Request, ClassName, &Method, &Hash)) return FALSE;
    ApiGenParameters Get{Request, ClassName, Method};
    bool Ok = true;
    if (!Dispatch(Hash, Get, Result, Ok)) return FALSE;
    return Ok ? TRUE : FALSE;
}

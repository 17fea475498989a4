// Packed trees: unpacking gives the tree that was packed (keys, repeated
// ones too, order, types, texts, Boolean values, private marks), for trees
// loaded from JSON and trees built item by item; bytes cut short, changed or
// left over are refused without harm.
#include "runtime/containers/dictionary_pack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/json_text.h"
#include "tests/support/runtime.h"

namespace {

// Every item as key, type, private mark and text (a Boolean's value), with
// its container's items in brackets.
std::string Typed(Dictionary *Handle) {
    std::string Text = "[";
    DictionaryItem *Item = nullptr;
    for (int32 More = Dictionary_ItemGetFirst(Handle, &Item); More; More = Dictionary_ItemGetNext(Handle, Item, &Item)) {
        const char *Key = nullptr;
        int32 Type = 0;
        Dictionary_ItemGetType(Handle, Item, &Type);
        Text += Dictionary_ItemGetKeyPtr(Handle, Item, &Key) && Key != nullptr ? Key : "-";
        uint32 Private = 0, Flag = 0;
        Dictionary_ItemGetPrivate(Handle, Item, &Private);
        Text += ":" + std::to_string(Type) + (Private ? "p" : "") + "=";
        const char *Value = nullptr;
        int32 Length = 0;
        Dictionary *Child = nullptr;
        if (Type == DICTIONARY_TYPE_BOOLEAN && Dictionary_ItemGetBoolean(Handle, Item, &Flag))
            Text += Flag ? "true" : "false";
        else if (Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child))
            Text += Typed(Child);
        else if (Dictionary_ItemGetBufferPtr(Handle, Item, &Value, &Length) && Value != nullptr)
            Text += std::string(Value, (size_t)Length);
        Text += ";";
    }
    return Text + "]";
}

// A tree with what JSON cannot say: private keys, numbers of both types
// with the same text, texts longer than an item holds, a long key.
Dictionary *Built() {
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    Dictionary_AddString(Root, ".hidden", "secret", nullptr);
    Dictionary_AddString(Root, "#count", "", nullptr);
    Dictionary_AddString(Root, "..twice", "a private key that starts with a dot", nullptr);
    Dictionary_AddString(Root, ".#mixed", "and one with a hash", nullptr);
    Dictionary_AddInt64(Root, "whole", 1, nullptr);
    Dictionary_AddFloat64(Root, "real", 1, nullptr);
    Dictionary_AddFloat64(Root, "tiny", -2.5e-300, nullptr);
    Dictionary_AddBoolean(Root, "on", TRUE, nullptr);
    Dictionary_AddBoolean(Root, "off", FALSE, nullptr);
    Dictionary_AddNull(Root, "nothing", nullptr);
    Dictionary_AddString(Root, std::string(119, 'k').c_str(), std::string(300, 'v').c_str(), nullptr);
    Dictionary_AddString(Root, "whole", "a repeated key", nullptr);
    Dictionary *List = nullptr, *Inner = nullptr;
    Dictionary_AddList(Root, "list", &List, nullptr);
    Dictionary_AddString(List, nullptr, "first", nullptr);
    Dictionary_AddDictionary(List, nullptr, &Inner, nullptr);
    Dictionary_AddList(Inner, "empty", nullptr, nullptr);
    Dictionary_AddDictionary(Inner, ".private child", nullptr, nullptr);
    Dictionary_AddBoolean(List, nullptr, TRUE, nullptr);
    return Root;
}

std::string Packed(Dictionary *Handle) {
    std::string Bytes;
    EXPECT_TRUE(DictionaryPack_Write(Handle, &Bytes));
    return Bytes;
}

} // namespace

TEST(DictionaryPack, UnpacksTheTreeThatWasPacked) {
    std::string Wide = "{";
    for (int Index = 0; Index < 300; Index++) Wide += (Index ? ",\"k" : "\"k") + std::to_string(Index) + "\":" + std::to_string(Index);
    Wide += "}";
    const std::vector<std::string> Documents = {
        "{}",
        R"({"t0":{"type":"Log","message":""},"type":"Log","name":"t0","workflow":"0123456789abcdef0123456789abcdef",)"
        R"("status":{"message":""},"successful":true,"cancelled":false,"expireTime":12345.678})",
        R"({"a":[1,2.5,"x",null,true,[],{}],"b":{"c":{"d":{"e":[[["deep"]]]}}},"u":"\u00e9\u4e2d"})",
        Wide,
    };
    std::vector<Dictionary *> Trees;
    for (const std::string &Each : Documents) Trees.push_back(JsonRoot(Each.c_str()));
    Trees.push_back(Built());
    for (Dictionary *Tree : Trees) {
        ASSERT_NE(Tree, nullptr);
        Dictionary *Unpacked = nullptr;
        Dictionary_Create(&Unpacked);
        const std::string Bytes = Packed(Tree);
        EXPECT_TRUE(DictionaryPack_Read(Unpacked, Bytes));
        EXPECT_EQ(Typed(Unpacked), Typed(Tree));
        // Found by key as before, above the size that indexes a container.
        int64 Value = 0;
        if (Dictionary_ContainsKey(Tree, "k299")) {
            EXPECT_TRUE(Dictionary_GetInt64ByKey(Unpacked, "k299", &Value) && Value == 299);
        }
        // Packed again, the same bytes.
        EXPECT_EQ(Packed(Unpacked), Bytes);
        for (Dictionary *Each : {Unpacked, Tree}) Dictionary_Release(&Each);
    }
}

TEST(DictionaryPack, RefusesBytesItDidNotWrite) {
    Dictionary *Tree = Built();
    const std::string Bytes = Packed(Tree);
    Dictionary_Release(&Tree);
    auto Reads = [](const std::string &Given) {
        Dictionary *Target = nullptr;
        Dictionary_Create(&Target);
        const int32 Result = DictionaryPack_Read(Target, Given);
        Dictionary_Release(&Target);
        return Result;
    };
    for (size_t Cut = 0; Cut < Bytes.size(); Cut++) EXPECT_FALSE(Reads(Bytes.substr(0, Cut))) << Cut;
    EXPECT_FALSE(Reads(Bytes + '\0'));
    // The first item's flags byte: no type, an unknown bit, a Boolean value on a String.
    for (const char Flags : {'\x00', '\x0d', '\x85'}) {
        std::string Changed = Bytes;
        Changed[4] = Flags;
        EXPECT_FALSE(Reads(Changed)) << (int)Flags;
    }
    // A key without its closing zero.
    std::string Open = Bytes;
    Open[5 + 4 + 6] = 'x';
    EXPECT_FALSE(Reads(Open));
    // A key with a zero inside: no key the tree can hold, and read back it
    // lost a byte with every packing (found by fuzz_dictionary_pack).
    std::string Inner = Bytes;
    Inner[5 + 4 + 1] = '\0';
    EXPECT_FALSE(Reads(Inner));
    // So at every place of keys of every length, the last item's and one
    // that more bytes follow (short keys are tested 16 bytes at a time where
    // the bytes go on that far).
    for (int32 Length = 1; Length <= 40; Length++)
        for (const bool Last : {true, false}) {
            Dictionary *One = nullptr;
            Dictionary_Create(&One);
            Dictionary_AddInt64(One, std::string((size_t)Length, 'k').c_str(), 7, nullptr);
            if (!Last) Dictionary_AddString(One, "next", "a value that runs on", nullptr);
            const std::string Clean = Packed(One);
            Dictionary_Release(&One);
            EXPECT_TRUE(Reads(Clean)) << Length;
            for (int32 At = 0; At < Length; At++) {
                std::string Zeroed = Clean;
                Zeroed[4 + 1 + 4 + (size_t)At] = '\0';
                EXPECT_FALSE(Reads(Zeroed)) << Length << " " << At << " " << Last;
            }
        }
}

TEST(DictionaryPack, LeavesTreesTooDeepAsTheyAre) {
    Dictionary *Deep = nullptr;
    Dictionary_Create(&Deep);
    Dictionary *Level = Deep;
    for (int Depth = 0; Depth < 300; Depth++) Dictionary_AddList(Level, nullptr, &Level, nullptr);
    std::string Bytes = "kept";
    EXPECT_FALSE(DictionaryPack_Write(Deep, &Bytes));
    EXPECT_EQ(Bytes, "kept");
    Dictionary_Release(&Deep);
}

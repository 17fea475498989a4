// Property-list values: construction, member access and the XML text check.
#include "platform/posix/preference_value.h"

PreferenceValue PreferenceValue::MakeString(std::string_view Text) {
    PreferenceValue Value;
    Value.Type = Kind::String;
    Value.Text = Text;
    return Value;
}

PreferenceValue PreferenceValue::MakeData(std::string_view Bytes) {
    PreferenceValue Value;
    Value.Type = Kind::Data;
    Value.Text = Bytes;
    return Value;
}

PreferenceValue PreferenceValue::MakeInteger(int64 Number) {
    PreferenceValue Value;
    Value.Type = Kind::Integer;
    Value.Number = Number;
    return Value;
}

PreferenceValue *PreferenceValue::Find(std::string_view Key) {
    for (PreferenceMember &Member : Members)
        if (Member.Key == Key) return &Member.Value;
    return nullptr;
}

const PreferenceValue *PreferenceValue::Find(std::string_view Key) const {
    for (const PreferenceMember &Member : Members)
        if (Member.Key == Key) return &Member.Value;
    return nullptr;
}

PreferenceValue &PreferenceValue::Set(std::string_view Key, PreferenceValue Value) {
    if (PreferenceValue *Found = Find(Key)) {
        *Found = std::move(Value);
        return *Found;
    }
    Members.push_back({std::string(Key), std::move(Value)});
    return Members.back().Value;
}

bool PreferenceValue::Remove(std::string_view Key) {
    for (auto At = Members.begin(); At != Members.end(); ++At) {
        if (At->Key != Key) continue;
        Members.erase(At);
        return true;
    }
    return false;
}

bool PreferenceText_IsValid(std::string_view Text) {
    const auto *At = reinterpret_cast<const uint8 *>(Text.data());
    const auto *End = At + Text.size();
    while (At < End) {
        uint32 Lead = *At++;
        if (Lead < 0x80) {
            if (Lead < 0x20 && Lead != '\t' && Lead != '\n' && Lead != '\r') return false;
            continue;
        }
        int32 Count;
        uint32 Code, Minimum;
        if ((Lead & 0xE0) == 0xC0) Count = 1, Code = Lead & 0x1F, Minimum = 0x80;
        else if ((Lead & 0xF0) == 0xE0) Count = 2, Code = Lead & 0x0F, Minimum = 0x800;
        else if ((Lead & 0xF8) == 0xF0) Count = 3, Code = Lead & 0x07, Minimum = 0x10000;
        else return false;
        if (End - At < Count) return false;
        for (int32 Index = 0; Index < Count; Index++) {
            if ((At[Index] & 0xC0) != 0x80) return false;
            Code = (Code << 6) | (At[Index] & 0x3F);
        }
        At += Count;
        if (Code < Minimum || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF) || Code == 0xFFFE ||
            Code == 0xFFFF)
            return false;
    }
    return true;
}

// Property-list values and their XML file form: the stand-in for the
// preference and keychain frameworks keeps every store as one XML property
// list (the format macOS and Python's plistlib read and write), through this
// small codec of its own.
//
// A value is a dictionary (members in file order; a repeated key keeps its
// first place and its last value, as plistlib does; a dictionary of n members
// reads in n log n comparisons at most, whatever its keys), an array, a string (UTF-8), data, an integer
// (64-bit; a value above INT64_MAX keeps its unsigned bit pattern), a real,
// a Boolean or a date (whole seconds since 1970, UTC).
//
// The reader refuses what an XML 1.0 reader refuses (invalid UTF-8, control
// characters, unbalanced tags, entity declarations) so that everything it
// accepts is also written back in a form plistlib reads; nesting deeper than
// PREFERENCE_MAX_DEPTH is refused rather than recursed into.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/types.h"

#define PREFERENCE_MAX_DEPTH 128

struct PreferenceMember;

struct PreferenceValue {
    enum class Kind { Dictionary, Array, String, Data, Integer, Real, Boolean, Date };
    Kind Type = Kind::Dictionary;
    std::string Text;  // String: UTF-8 text; Data: the bytes
    int64 Number = 0;  // Integer, Boolean (0 or 1), Date (seconds since 1970)
    bool Unsigned = false; // Integer above INT64_MAX, held as its bit pattern
    double Real = 0;
    std::vector<PreferenceMember> Members; // Dictionary
    std::vector<PreferenceValue> Items;    // Array

    static PreferenceValue MakeString(std::string_view Text);
    static PreferenceValue MakeData(std::string_view Bytes);
    static PreferenceValue MakeInteger(int64 Value);

    bool IsDictionary() const { return Type == Kind::Dictionary; }
    // Dictionary members by key (exact comparison); null when absent.
    PreferenceValue *Find(std::string_view Key);
    const PreferenceValue *Find(std::string_view Key) const;
    // Replaces the member in place or appends it.
    PreferenceValue &Set(std::string_view Key, PreferenceValue Value);
    bool Remove(std::string_view Key);
};

struct PreferenceMember {
    std::string Key;
    PreferenceValue Value;
};

// True when the text may stand in an XML document: valid UTF-8 of XML
// characters (tab, line feed and carriage return are the only controls).
bool PreferenceText_IsValid(std::string_view Text);

// Reads an XML property list; false (and a reason in Error when given) for
// anything malformed. Out is only changed on success.
bool PreferenceCodec_Read(std::string_view Document, PreferenceValue &Out, std::string *Error = nullptr);
// The document text of a value. Every string and key must satisfy
// PreferenceText_IsValid (the setters check); others are written as given.
std::string PreferenceCodec_Write(const PreferenceValue &Value);

// The simple tag fields that are written through to the file: how each is set
// on a TagLib tag, read back after the save, and kept in the snapshot.
#pragma once

#include "TagRecords.h"

#include <windows.h>
#include <oleauto.h>
#include <string>

namespace TagLib
{
    class Tag;
}

struct TextTagField
{
    using Input = BSTR;
    using Value = std::wstring;

    void (*set)(TagLib::Tag& tag, const std::wstring& value);
    std::wstring (*get)(const TagLib::Tag& tag);
    std::wstring tagedit::TSimpleMediaTag::*snapshot;

    static std::wstring FromInput(BSTR input);
};

struct NumberTagField
{
    using Input = LONG;
    using Value = int32_t;

    void (*set)(TagLib::Tag& tag, uint32_t value);
    uint32_t (*get)(const TagLib::Tag& tag);
    int32_t tagedit::TSimpleMediaTag::*snapshot;

    // Same bits, no range check: -1 reaches TagLib as 4294967295.
    static uint32_t FromInput(LONG input) { return static_cast<uint32_t>(input); }
};

namespace TagFields
{
    extern const TextTagField Title;
    extern const TextTagField Artist;
    extern const TextTagField Album;
    extern const TextTagField Comment;
    extern const TextTagField Genre;
    extern const NumberTagField Year;
    extern const NumberTagField Track;
}

#include "TagFieldTable.h"
#include "StringConversion.h"

#include <taglib/tag.h>
#include <taglib/tstring.h>

namespace
{
    // UTF16BE makes TagLib take the wide characters as they are, in the
    // platform's own byte order, without byte-order-mark handling.
    TagLib::String ToTagLib(const std::wstring& value)
    {
        return TagLib::String(value.c_str(), TagLib::String::UTF16BE);
    }

    template <void (TagLib::Tag::*Setter)(const TagLib::String&), TagLib::String (TagLib::Tag::*Getter)() const>
    constexpr TextTagField MakeTextField(std::wstring tagedit::TSimpleMediaTag::*snapshot)
    {
        return {
            [](TagLib::Tag& tag, const std::wstring& value) { (tag.*Setter)(ToTagLib(value)); },
            [](const TagLib::Tag& tag) { return (tag.*Getter)().toWString(); },
            snapshot,
        };
    }

    template <void (TagLib::Tag::*Setter)(unsigned int), unsigned int (TagLib::Tag::*Getter)() const>
    constexpr NumberTagField MakeNumberField(int32_t tagedit::TSimpleMediaTag::*snapshot)
    {
        return {
            [](TagLib::Tag& tag, uint32_t value) { (tag.*Setter)(value); },
            [](const TagLib::Tag& tag) { return static_cast<uint32_t>((tag.*Getter)()); },
            snapshot,
        };
    }
}

std::wstring TextTagField::FromInput(BSTR input)
{
    return BstrToWString(input);
}

namespace TagFields
{
    using tagedit::TSimpleMediaTag;
    using TagLib::Tag;

    const TextTagField Title = MakeTextField<&Tag::setTitle, &Tag::title>(&TSimpleMediaTag::strTitle);
    const TextTagField Artist = MakeTextField<&Tag::setArtist, &Tag::artist>(&TSimpleMediaTag::strArtist);
    const TextTagField Album = MakeTextField<&Tag::setAlbum, &Tag::album>(&TSimpleMediaTag::strAlbum);
    const TextTagField Comment = MakeTextField<&Tag::setComment, &Tag::comment>(&TSimpleMediaTag::strComment);
    const TextTagField Genre = MakeTextField<&Tag::setGenre, &Tag::genre>(&TSimpleMediaTag::strGenre);
    const NumberTagField Year = MakeNumberField<&Tag::setYear, &Tag::year>(&TSimpleMediaTag::nYear);
    const NumberTagField Track = MakeNumberField<&Tag::setTrack, &Tag::track>(&TSimpleMediaTag::nTrack);
}

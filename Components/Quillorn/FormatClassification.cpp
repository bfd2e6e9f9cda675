#include "FormatClassification.h"

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/rifffile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavpackfile.h>

namespace
{
    template <typename Base, typename Derived>
    bool IsA(const Base& object)
    {
        return dynamic_cast<const Derived*>(&object) != nullptr;
    }

    struct FileFormatRow
    {
        bool (*matches)(const TagLib::File&);
        TMediaFileFormatType format;
    };

    // Tested in order: the base classes Ogg::File and RIFF::File stand for
    // every Ogg and every RIFF kind.
    const FileFormatRow kFileFormats[] = {
        {IsA<TagLib::File, TagLib::APE::File>, MFILE_FORMAT_TYPE_APE},
        {IsA<TagLib::File, TagLib::ASF::File>, MFILE_FORMAT_TYPE_ASF},
        {IsA<TagLib::File, TagLib::FLAC::File>, MFILE_FORMAT_TYPE_FLAC},
        {IsA<TagLib::File, TagLib::MP4::File>, MFILE_FORMAT_TYPE_MP4},
        {IsA<TagLib::File, TagLib::MPC::File>, MFILE_FORMAT_TYPE_MPC},
        {IsA<TagLib::File, TagLib::MPEG::File>, MFILE_FORMAT_TYPE_MPEG},
        {IsA<TagLib::File, TagLib::Ogg::File>, MFILE_FORMAT_TYPE_OGG},
        {IsA<TagLib::File, TagLib::RIFF::File>, MFILE_FORMAT_TYPE_RIFF},
        {IsA<TagLib::File, TagLib::TrueAudio::File>, MFILE_FORMAT_TYPE_TRUEAUDIO},
        {IsA<TagLib::File, TagLib::WavPack::File>, MFILE_FORMAT_TYPE_WAV},
    };

    struct TagFormatRow
    {
        bool (*matches)(const TagLib::Tag&);
        TMediaTagFormatType format;
    };

    const TagFormatRow kTagFormats[] = {
        {IsA<TagLib::Tag, TagLib::APE::Tag>, MTAG_FORMAT_TYPE_APE},
        {IsA<TagLib::Tag, TagLib::ASF::Tag>, MTAG_FORMAT_TYPE_ASF},
        {IsA<TagLib::Tag, TagLib::ID3v1::Tag>, MTAG_FORMAT_TYPE_ID3V1},
        {IsA<TagLib::Tag, TagLib::ID3v2::Tag>, MTAG_FORMAT_TYPE_ID3V2},
        {IsA<TagLib::Tag, TagLib::MP4::Tag>, MTAG_FORMAT_TYPE_MP4},
    };
}

std::optional<TMediaFileFormatType> ClassifyFileFormat(const TagLib::File& file)
{
    for (const auto& row : kFileFormats)
    {
        if (row.matches(file))
            return row.format;
    }
    return std::nullopt;
}

TMediaTagFormatType ClassifyTagFormat(const TagLib::Tag& tag)
{
    for (const auto& row : kTagFormats)
    {
        if (row.matches(tag))
            return row.format;
    }
    return MTAG_FORMAT_TYPE_XIPH;
}

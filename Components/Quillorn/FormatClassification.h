// Maps TagLib's file and tag classes onto the component's format enumerations.
#pragma once

#include "Quillorn_h.h"

#include <optional>

namespace TagLib
{
    class File;
    class Tag;
}

// The first class in the file table that the object is (or derives from);
// nothing when it is none of them.
std::optional<TMediaFileFormatType> ClassifyFileFormat(const TagLib::File& file);

// The first class in the tag table that the object is; every other tag class,
// the combined tags of multi-tag formats included, counts as a Xiph comment.
TMediaTagFormatType ClassifyTagFormat(const TagLib::Tag& tag);

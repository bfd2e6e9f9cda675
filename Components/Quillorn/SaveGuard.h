// Checks made before TagLib is asked to save a file.
#pragma once

namespace TagLib
{
    class File;
}

// False for a file whose structure TagLib's writer is known to mishandle: an MP4
// atom that claims to reach beyond its parent makes TagLib 1.13 write without end,
// filling the disk. Such a file is refused rather than saved.
bool IsSafeToSave(TagLib::File& file);

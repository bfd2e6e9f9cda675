#include "SaveGuard.h"

#include <taglib/mp4atom.h>
#include <taglib/mp4file.h>

namespace
{
    const long kAtomHeaderSize = 8;

    bool AtomsFit(const TagLib::MP4::AtomList& atoms, long begin, long end)
    {
        for (const TagLib::MP4::Atom* atom : atoms)
        {
            if (atom->offset < begin || atom->length < kAtomHeaderSize || atom->length > end - atom->offset)
                return false;
            if (!AtomsFit(atom->children, atom->offset + kAtomHeaderSize, atom->offset + atom->length))
                return false;
        }
        return true;
    }

    bool Mp4AtomsFit(TagLib::File& file)
    {
        const long size = file.length();
        TagLib::MP4::Atoms atoms(&file);
        return AtomsFit(atoms.atoms, 0, size);
    }

    struct SaveCheck
    {
        bool (*applies)(TagLib::File&);
        bool (*safe)(TagLib::File&);
    };

    const SaveCheck kSaveChecks[] = {
        {[](TagLib::File& file) { return dynamic_cast<TagLib::MP4::File*>(&file) != nullptr; }, Mp4AtomsFit},
    };
}

bool IsSafeToSave(TagLib::File& file)
{
    for (const SaveCheck& check : kSaveChecks)
    {
        if (check.applies(file) && !check.safe(file))
            return false;
    }
    return true;
}

// The object's own copies of the automation records: the same fields in the
// same order, with UTF-16 strings in place of BSTRs.
#pragma once

#include <cstdint>
#include <string>

namespace tagedit
{
    struct TSimpleMediaTag
    {
        std::wstring strTitle;
        std::wstring strArtist;
        std::wstring strAlbum;
        std::wstring strComment;
        std::wstring strGenre;
        std::wstring strRating;
        std::wstring strCopyright;
        int32_t nYear = 0;
        int32_t nTrack = 0;
        int32_t nTag = 0;
    };

    struct TAudioOptions
    {
        int32_t nLength = 0;
        int32_t nBitrate = 0;
        int32_t nSampleRate = 0;
        int32_t nChannels = 0;
        int32_t nTag = 0;
    };
}

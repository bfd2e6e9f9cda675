// BSTR helpers for tests.
#pragma once

#include "Quillorn_h.h"

#include <wil/resource.h>

#include <string>

inline wil::unique_bstr MakeBstr(const std::wstring& text)
{
    return wil::unique_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

inline std::wstring ToWString(BSTR text)
{
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

// Frees the seven strings of a record the component filled.
struct MediaTagRecord : TSimpleMediaTag
{
    MediaTagRecord() : TSimpleMediaTag() {}
    ~MediaTagRecord() { Clear(); }
    MediaTagRecord(const MediaTagRecord&) = delete;
    MediaTagRecord& operator=(const MediaTagRecord&) = delete;

    void Clear()
    {
        for (BSTR* field : {&strTitle, &strArtist, &strAlbum, &strComment, &strGenre, &strRating, &strCopyright})
        {
            ::SysFreeString(*field);
            *field = nullptr;
        }
    }
};

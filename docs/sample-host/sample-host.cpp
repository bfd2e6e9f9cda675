// A minimal Quillorn host: creates the component, opens one file, prints its
// title, artist and audio length, and optionally writes a new title.
//
// Build (Debian, mingw-w64), from the install folder:
//   i686-w64-mingw32-g++-posix -std=c++17 -municode -static -I. sample-host.cpp Quillorn_i.c \
//       -lole32 -loleaut32 -luuid -o sample-host.exe
// Run after `regsvr32 Quillorn.dll`:
//   sample-host.exe C:\Music\song.mp3 ["New title"]
#include <windows.h>

#include "Quillorn_h.h"

#include <cstdio>
#include <cwchar>

namespace
{
    // Owners so every exit path frees what it got.
    struct ComApartment
    {
        HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ~ComApartment() { if (SUCCEEDED(hr)) ::CoUninitialize(); }
    };

    struct Bstr
    {
        BSTR value = nullptr;
        explicit Bstr(BSTR v = nullptr) : value(v) {}
        Bstr(const Bstr&) = delete;
        Bstr& operator=(const Bstr&) = delete;
        ~Bstr() { ::SysFreeString(value); }
    };

    template <typename T>
    struct Com
    {
        T* p = nullptr;
        Com() = default;
        Com(const Com&) = delete;
        Com& operator=(const Com&) = delete;
        ~Com() { if (p) p->Release(); }
        T* operator->() const { return p; }
    };

    int Fail(const char* what, HRESULT hr)
    {
        std::fprintf(stderr, "sample-host: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
        return 1;
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        std::fputs("usage: sample-host FILE [NEW_TITLE]\n", stderr);
        return 2;
    }
    ComApartment apartment;
    if (FAILED(apartment.hr))
        return Fail("CoInitializeEx", apartment.hr);

    Com<ITagsEditor> editor;
    HRESULT hr = ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, IID_ITagsEditor,
                                    reinterpret_cast<void**>(&editor.p));
    if (FAILED(hr))
        return Fail("CoCreateInstance (is Quillorn.dll registered?)", hr);

    Bstr path(::SysAllocString(argv[1]));
    if (FAILED(hr = editor->OpenFile(path.value)))
        return Fail("OpenFile", hr);
    // OpenFile succeeds on a file TagLib cannot read; IsFileOpened tells.
    ULONG opened = 0;
    editor->IsFileOpened(&opened);
    if (!opened)
    {
        std::fwprintf(stderr, L"sample-host: %ls: not an audio file TagLib knows\n", argv[1]);
        return 1;
    }

    if (argc > 2)
    {
        Bstr title(::SysAllocString(argv[2]));
        if (FAILED(hr = editor->WriteTitleTag(title.value)))
            return Fail("WriteTitleTag", hr);
    }

    TSimpleMediaTag tag{};
    if (FAILED(hr = editor->GetSimpleMediaTags(&tag)))
        return Fail("GetSimpleMediaTags", hr);
    // The record's strings belong to the caller.
    Bstr owned[] = {Bstr(tag.strTitle), Bstr(tag.strArtist), Bstr(tag.strAlbum), Bstr(tag.strComment),
                    Bstr(tag.strGenre), Bstr(tag.strRating), Bstr(tag.strCopyright)};
    TAudioOptions audio{};
    if (FAILED(hr = editor->GetAudioOptions(&audio)))
        return Fail("GetAudioOptions", hr);

    std::wprintf(L"title:  %ls\nartist: %ls\nlength: %ld s\n", tag.strTitle ? tag.strTitle : L"",
                 tag.strArtist ? tag.strArtist : L"", audio.nLength);
    editor->CloseFile();
    return 0;
}

// quillorn-cli: shows and sets simple audio tags through the Quillorn component,
// created with CoCreateInstance like any host would.
//
//   quillorn-cli show FILE...
//   quillorn-cli set --title T --artist A --album B --comment C --genre G --year N --track N FILE...
#include "Quillorn_h.h"

#include <wil/resource.h>
#include <wil/result.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace
{
    const wchar_t* FileFormatName(TMediaFileFormatType format)
    {
        static const wchar_t* const names[] = {L"unknown", L"MPEG", L"WavPack", L"APE", L"ASF", L"FLAC", L"MP4",
                                               L"Musepack", L"TrueAudio", L"Ogg", L"Ogg FLAC", L"Ogg Speex",
                                               L"Ogg Vorbis", L"RIFF", L"RIFF AIFF", L"RIFF WAV"};
        return format >= 0 && format < static_cast<int>(std::size(names)) ? names[format] : L"?";
    }

    const wchar_t* TagFormatName(TMediaTagFormatType format)
    {
        static const wchar_t* const names[] = {L"unknown", L"APE", L"ASF", L"ID3v1", L"ID3v2", L"MP4", L"Xiph"};
        return format >= 0 && format < static_cast<int>(std::size(names)) ? names[format] : L"?";
    }

    std::wstring Describe(HRESULT hr)
    {
        switch (hr)
        {
        case static_cast<HRESULT>(0x8007000A): return L"no file is open (not an audio file TagLib knows)";
        case static_cast<HRESULT>(0x8007001D): return L"the file could not be written";
        case static_cast<HRESULT>(0x80070002): return L"not found";
        case E_INVALIDARG: return L"invalid argument";
        case E_OUTOFMEMORY: return L"out of memory";
        case REGDB_E_CLASSNOTREG: return L"the component is not registered";
        default: break;
        }
        wchar_t text[32];
        swprintf(text, 32, L"error 0x%08lX", static_cast<unsigned long>(hr));
        return text;
    }

    // Prints a UTF-16 string to the console or a pipe as UTF-8.
    void Print(const std::wstring& text)
    {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(size, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), stdout);
    }

    std::wstring Text(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

    HRESULT Open(ITagsEditor* editor, const std::wstring& path)
    {
        wil::unique_bstr name(::SysAllocString(path.c_str()));
        RETURN_IF_FAILED(editor->OpenFile(name.get()));
        ULONG opened = 0;
        RETURN_IF_FAILED(editor->IsFileOpened(&opened));
        return opened ? S_OK : static_cast<HRESULT>(0x8007000A);
    }

    HRESULT Show(ITagsEditor* editor, const std::wstring& path)
    {
        RETURN_IF_FAILED(Open(editor, path));
        TMediaFileFormatType fileFormat{};
        TMediaTagFormatType tagFormat{};
        TAudioOptions audio{};
        TSimpleMediaTag tag{};
        RETURN_IF_FAILED(editor->GetMediaFileFormatType(&fileFormat));
        RETURN_IF_FAILED(editor->GetMediaTagFormatType(&tagFormat));
        RETURN_IF_FAILED(editor->GetAudioOptions(&audio));
        RETURN_IF_FAILED(editor->GetSimpleMediaTags(&tag));
        const wil::unique_bstr owned[] = {wil::unique_bstr(tag.strTitle), wil::unique_bstr(tag.strArtist),
                                          wil::unique_bstr(tag.strAlbum), wil::unique_bstr(tag.strComment),
                                          wil::unique_bstr(tag.strGenre), wil::unique_bstr(tag.strRating),
                                          wil::unique_bstr(tag.strCopyright)};
        const std::pair<const wchar_t*, std::wstring> rows[] = {
            {L"File format", FileFormatName(fileFormat)},
            {L"Tag format", TagFormatName(tagFormat)},
            {L"Title", Text(tag.strTitle)},
            {L"Artist", Text(tag.strArtist)},
            {L"Album", Text(tag.strAlbum)},
            {L"Comment", Text(tag.strComment)},
            {L"Genre", Text(tag.strGenre)},
            {L"Year", std::to_wstring(tag.nYear)},
            {L"Track", std::to_wstring(tag.nTrack)},
            {L"Rating", Text(tag.strRating)},
            {L"Copyright", Text(tag.strCopyright)},
            {L"Length", std::to_wstring(audio.nLength) + L" s"},
            {L"Bitrate", std::to_wstring(audio.nBitrate) + L" kbit/s"},
            {L"Sample rate", std::to_wstring(audio.nSampleRate) + L" Hz"},
            {L"Channels", std::to_wstring(audio.nChannels)},
        };
        Print(path + L"\n");
        for (const auto& [label, value] : rows)
            Print(L"  " + std::wstring(label) + std::wstring(13 - wcslen(label), L' ') + value + L"\n");
        return editor->CloseFile();
    }

    struct Setter
    {
        const wchar_t* option;
        std::function<HRESULT(ITagsEditor*, const std::wstring&)> write;
    };

    std::function<HRESULT(ITagsEditor*, const std::wstring&)> TextSetter(HRESULT (STDMETHODCALLTYPE ITagsEditor::*method)(BSTR))
    {
        return [method](ITagsEditor* editor, const std::wstring& value) {
            wil::unique_bstr text(::SysAllocString(value.c_str()));
            return (editor->*method)(text.get());
        };
    }

    std::function<HRESULT(ITagsEditor*, const std::wstring&)> NumberSetter(HRESULT (STDMETHODCALLTYPE ITagsEditor::*method)(LONG))
    {
        return [method](ITagsEditor* editor, const std::wstring& value) {
            return (editor->*method)(static_cast<LONG>(wcstol(value.c_str(), nullptr, 10)));
        };
    }

    const Setter kSetters[] = {
        {L"--title", TextSetter(&ITagsEditor::WriteTitleTag)},     {L"--artist", TextSetter(&ITagsEditor::WriteArtistTag)},
        {L"--album", TextSetter(&ITagsEditor::WriteAlbumTag)},     {L"--comment", TextSetter(&ITagsEditor::WriteCommentTag)},
        {L"--genre", TextSetter(&ITagsEditor::WriteGenreTag)},     {L"--year", NumberSetter(&ITagsEditor::WriteYearTag)},
        {L"--track", NumberSetter(&ITagsEditor::WriteTrackTag)},
    };

    int Usage()
    {
        fputs("usage: quillorn-cli show FILE...\n"
              "       quillorn-cli set [--title T] [--artist A] [--album B] [--comment C] [--genre G] [--year N] [--track N] FILE...\n",
              stderr);
        return 2;
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    const std::wstring command = argv[1];
    std::vector<std::pair<const Setter*, std::wstring>> writes;
    std::vector<std::wstring> files;
    for (int i = 2; i < argc; ++i)
    {
        const Setter* setter = nullptr;
        for (const Setter& candidate : kSetters)
        {
            if (command == L"set" && wcscmp(argv[i], candidate.option) == 0)
                setter = &candidate;
        }
        if (setter)
        {
            if (++i >= argc)
                return Usage();
            writes.emplace_back(setter, argv[i]);
        }
        else
            files.emplace_back(argv[i]);
    }
    if ((command != L"show" && command != L"set") || files.empty() || (command == L"set" && writes.empty()))
        return Usage();

    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int exitCode = 0;
    {
        wil::com_ptr<ITagsEditor> editor;
        const HRESULT created = ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, IID_ITagsEditor, editor.put_void());
        if (FAILED(created))
        {
            Print(L"quillorn-cli: cannot create the component: " + Describe(created) + L"\n");
            exitCode = 1;
        }
        for (const std::wstring& file : editor ? files : std::vector<std::wstring>())
        {
            HRESULT hr = S_OK;
            if (command == L"show")
                hr = Show(editor.get(), file);
            else if (SUCCEEDED(hr = Open(editor.get(), file)))
            {
                for (const auto& [setter, value] : writes)
                {
                    const HRESULT written = setter->write(editor.get(), value);
                    Print(file + L": " + (setter->option + 2) + L" " + (SUCCEEDED(written) ? L"written" : Describe(written)) + L"\n");
                    if (FAILED(written))
                        exitCode = 1;
                }
                editor->CloseFile();
            }
            if (FAILED(hr))
            {
                Print(file + L": " + Describe(hr) + L"\n");
                exitCode = 1;
            }
        }
    }
    ::CoUninitialize();
    return exitCode;
}

// Prints how the component compares with raw TagLib in the same process.
//
//   quillorn-bench FIXTURES_DIR CORPUS_DIR SCRATCH_DIR [CYCLES]
//
// The component is created with CoCreateInstance (it must be registered), so the
// figures include everything a host pays. Ratios are COM time / TagLib time.
#include "Quillorn_h.h"

#include <wil/resource.h>
#include <wil/result.h>

#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/audioproperties.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{
    double Now()
    {
        static const double frequency = [] {
            LARGE_INTEGER f;
            ::QueryPerformanceFrequency(&f);
            return static_cast<double>(f.QuadPart);
        }();
        LARGE_INTEGER t;
        ::QueryPerformanceCounter(&t);
        return static_cast<double>(t.QuadPart) / frequency;
    }

    // Seconds per call of `body`, the best of several rounds (the least disturbed one).
    double Time(int calls, const std::function<void()>& body, int rounds = 5)
    {
        double best = 1e30;
        for (int round = 0; round < rounds; ++round)
        {
            const double start = Now();
            for (int i = 0; i < calls; ++i)
                body();
            best = std::min(best, (Now() - start) / calls);
        }
        return best;
    }

    std::vector<std::wstring> Files(const std::wstring& folder)
    {
        std::vector<std::wstring> files;
        WIN32_FIND_DATAW data{};
        wil::unique_hfind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
        if (!find)
            return files;
        do
        {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                files.push_back(folder + L"\\" + data.cFileName);
        } while (::FindNextFileW(find.get(), &data));
        std::sort(files.begin(), files.end());
        return files;
    }

    std::string Narrow(const std::wstring& text)
    {
        std::string out;
        for (wchar_t c : text)
            out += c < 128 ? static_cast<char>(c) : '?';
        return out;
    }

    SIZE_T PrivateBytes()
    {
        SIZE_T total = 0;
        MEMORY_BASIC_INFORMATION info;
        for (auto* address = static_cast<BYTE*>(nullptr); ::VirtualQuery(address, &info, sizeof info) == sizeof info;
             address = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize)
        {
            if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
                total += info.RegionSize;
            if (static_cast<BYTE*>(info.BaseAddress) + info.RegionSize < address)
                break;
        }
        return total;
    }

    // Wine's GetProcessHandleCount answers 0: count the handle values that are live.
    unsigned HandleCount()
    {
        unsigned count = 0;
        for (uintptr_t value = 4; value < 0x10000; value += 4)
        {
            DWORD flags = 0;
            if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
                ++count;
        }
        return count;
    }

    // The same reads the component makes when it opens a file.
    void RawTagLibRead(const std::wstring& path)
    {
        std::unique_ptr<TagLib::File> file(
            TagLib::FileRef::create(TagLib::FileName(path.c_str()), true, TagLib::AudioProperties::Average));
        if (!file)
            return;
        TagLib::Tag* tag = file->tag();
        if (!tag)
            return;
        volatile size_t sink = tag->title().toWString().size() + tag->artist().toWString().size() +
                               tag->album().toWString().size() + tag->comment().toWString().size() +
                               tag->genre().toWString().size() + tag->year() + tag->track();
        if (const TagLib::AudioProperties* audio = file->audioProperties())
            sink = sink + audio->length() + audio->bitrate() + audio->sampleRate() + audio->channels();
        (void)sink;
    }

    void FreeTag(TSimpleMediaTag& tag)
    {
        for (BSTR* s : {&tag.strTitle, &tag.strArtist, &tag.strAlbum, &tag.strComment, &tag.strGenre, &tag.strRating,
                        &tag.strCopyright})
        {
            ::SysFreeString(*s);
            *s = nullptr;
        }
    }

    void ComRead(ITagsEditor* editor, BSTR path)
    {
        editor->OpenFile(path);
        TSimpleMediaTag tag{};
        TAudioOptions audio{};
        TMediaTagFormatType tagFormat{};
        TMediaFileFormatType fileFormat{};
        if (SUCCEEDED(editor->GetSimpleMediaTags(&tag)))
            FreeTag(tag);
        editor->GetAudioOptions(&audio);
        editor->GetMediaTagFormatType(&tagFormat);
        editor->GetMediaFileFormatType(&fileFormat);
        editor->CloseFile();
    }

    void Ratio(const char* what, double com, double raw, double goal)
    {
        printf("%-44s COM %9.1f us  TagLib %9.1f us  ratio %.3f (goal <= %.2f)\n", what, com * 1e6, raw * 1e6, com / raw, goal);
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
    {
        fputs("usage: quillorn-bench FIXTURES_DIR CORPUS_DIR SCRATCH_DIR [CYCLES]\n", stderr);
        return 2;
    }
    const std::wstring fixtures = argv[1], corpus = argv[2], scratch = argv[3];
    const int cycles = argc > 4 ? _wtoi(argv[4]) : 100000;
    setvbuf(stdout, nullptr, _IONBF, 0);

    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        wil::com_ptr<ITagsEditor> editor;
        const HRESULT created = ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, IID_ITagsEditor, editor.put_void());
        if (FAILED(created))
        {
            fprintf(stderr, "quillorn-bench: CoCreateInstance failed 0x%08lX (register Quillorn.dll)\n", static_cast<unsigned long>(created));
            return 1;
        }

        // 1. Per file, each fixture: open + four queries + close, against TagLib.
        puts("== read one file: OpenFile + 4 queries + CloseFile vs FileRef::create + same reads");
        double comTotal = 0, rawTotal = 0;
        for (const std::wstring& path : Files(fixtures))
        {
            wil::unique_bstr name(::SysAllocString(path.c_str()));
            const int calls = 50;
            // Alternate rounds so drift in the machine hits both sides alike.
            double com = 1e30, raw = 1e30;
            for (int round = 0; round < 4; ++round)
            {
                com = std::min(com, Time(calls, [&] { ComRead(editor.get(), name.get()); }, 1));
                raw = std::min(raw, Time(calls, [&] { RawTagLibRead(path); }, 1));
            }
            comTotal += com;
            rawTotal += raw;
            Ratio(Narrow(path.substr(path.find_last_of(L'\\') + 1)).c_str(), com, raw, 1.05);
        }
        Ratio("all fixtures (sum)", comTotal, rawTotal, 1.05);

        const std::vector<std::wstring> many = Files(corpus);
        if (!many.empty())
        {
            std::vector<wil::unique_bstr> names;
            for (const std::wstring& path : many)
                names.emplace_back(::SysAllocString(path.c_str()));
            double com = 1e30, raw = 1e30;
            for (int round = 0; round < 3; ++round)
            {
                const double c0 = Now();
                for (const auto& name : names)
                    ComRead(editor.get(), name.get());
                com = std::min(com, (Now() - c0) / many.size());
                const double r0 = Now();
                for (const std::wstring& path : many)
                    RawTagLibRead(path);
                raw = std::min(raw, (Now() - r0) / many.size());
            }
            char label[64];
            snprintf(label, sizeof label, "corpus of %u files (per file)", static_cast<unsigned>(many.size()));
            Ratio(label, com, raw, 1.05);
        }

        // 2. Queries on an open file.
        puts("== queries per call");
        {
            wil::unique_bstr name(::SysAllocString((fixtures + L"\\tagged.wma").c_str()));
            editor->OpenFile(name.get());
            const double tags = Time(100000, [&] {
                TSimpleMediaTag tag{};
                editor->GetSimpleMediaTags(&tag);
                FreeTag(tag);
            });
            const double audio = Time(1000000, [&] {
                TAudioOptions options{};
                editor->GetAudioOptions(&options);
            });
            // Floors: what the seven strings alone cost here, and a call that only reads a flag.
            const double strings = Time(100000, [&] {
                BSTR copies[7];
                for (BSTR& copy : copies)
                    copy = ::SysAllocStringLen(L"Bench value text", 16);
                for (BSTR copy : copies)
                    ::SysFreeString(copy);
            });
            const double flag = Time(1000000, [&] {
                ULONG opened = 0;
                editor->IsFileOpened(&opened);
            });
            printf("GetSimpleMediaTags (strings freed)  %8.3f us (goal <= 1 us)\n", tags * 1e6);
            printf("  floor: 7 x SysAllocStringLen+Free %8.3f us\n", strings * 1e6);
            printf("  floor: IsFileOpened (one flag)    %8.3f us\n", flag * 1e6);
            printf("GetAudioOptions                     %8.3f us (goal <= 0.1 us)\n", audio * 1e6);
            editor->CloseFile();
        }

        // 3. One field write: WriteTitleTag against setTitle + save.
        puts("== one field write");
        {
            const std::wstring comCopy = scratch + L"\\bench-com.flac", rawCopy = scratch + L"\\bench-raw.flac";
            ::CopyFileW((fixtures + L"\\tagged.flac").c_str(), comCopy.c_str(), FALSE);
            ::CopyFileW((fixtures + L"\\tagged.flac").c_str(), rawCopy.c_str(), FALSE);
            wil::unique_bstr name(::SysAllocString(comCopy.c_str()));
            editor->OpenFile(name.get());
            wil::unique_bstr values[] = {wil::unique_bstr(::SysAllocString(L"Bench title A")),
                                         wil::unique_bstr(::SysAllocString(L"Bench title B"))};
            int turn = 0;
            std::unique_ptr<TagLib::File> raw(
                TagLib::FileRef::create(TagLib::FileName(rawCopy.c_str()), true, TagLib::AudioProperties::Average));
            const wchar_t* rawValues[] = {L"Bench title A", L"Bench title B"};
            double com = 1e30, rawTime = 1e30;
            for (int round = 0; round < 4; ++round)
            {
                com = std::min(com, Time(50, [&] { editor->WriteTitleTag(values[++turn & 1].get()); }, 1));
                rawTime = std::min(rawTime, Time(50, [&] {
                                       raw->tag()->setTitle(TagLib::String(rawValues[++turn & 1]));
                                       raw->save();
                                   }, 1));
            }
            Ratio("WriteTitleTag vs setTitle + save (FLAC)", com, rawTime, 1.05);
            editor->CloseFile();
        }

        // 4. Growth across many cycles.
        printf("== growth over %d cycles (private bytes, live handles)\n", cycles);
        {
            // The counters must see a deliberate leak, or a zero below proves nothing.
            {
                const SIZE_T bytes = PrivateBytes();
                const unsigned handles = HandleCount();
                std::vector<wil::unique_handle> events;
                for (int i = 0; i < 100; ++i)
                    events.emplace_back(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
                std::vector<char> block(1 << 20, 1);
                printf("method check: 100 events, 1 MiB held  private bytes %+lld  handles %+d\n",
                       static_cast<long long>(PrivateBytes()) - static_cast<long long>(bytes),
                       static_cast<int>(HandleCount()) - static_cast<int>(handles));
            }
            wil::unique_bstr name(::SysAllocString((fixtures + L"\\tagged.wma").c_str()));
            for (int i = 0; i < 200; ++i)
                ComRead(editor.get(), name.get());  // warm-up: first-time allocations are not growth
            SIZE_T bytes0 = PrivateBytes();
            unsigned handles0 = HandleCount();
            for (int i = 0; i < cycles; ++i)
            {
                editor->OpenFile(name.get());
                editor->CloseFile();
            }
            printf("OpenFile/CloseFile   private bytes %+lld  handles %+d\n",
                   static_cast<long long>(PrivateBytes()) - static_cast<long long>(bytes0),
                   static_cast<int>(HandleCount()) - static_cast<int>(handles0));
            editor->OpenFile(name.get());
            bytes0 = PrivateBytes();
            handles0 = HandleCount();
            for (int i = 0; i < cycles; ++i)
            {
                TSimpleMediaTag tag{};
                editor->GetSimpleMediaTags(&tag);
                FreeTag(tag);
            }
            printf("GetSimpleMediaTags   private bytes %+lld  handles %+d\n",
                   static_cast<long long>(PrivateBytes()) - static_cast<long long>(bytes0),
                   static_cast<int>(HandleCount()) - static_cast<int>(handles0));
            editor->CloseFile();
        }
    }
    ::CoUninitialize();
    return 0;
}

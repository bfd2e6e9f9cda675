// quillorn-cli: shows and sets simple audio tags through the Quillorn component,
// created with CoCreateInstance like any host would.
//
//   quillorn-cli show [--json] [--jobs N] FILE|DIR...
//   quillorn-cli set [--json] [--jobs N] --title T --artist A --album B --comment C --genre G --year N --track N FILE|DIR...
//
// Files are handled by worker threads, each in its own apartment with its own
// component object; results are printed in the order of the command line.
// Exit codes: 0 all well, 1 some file failed, 2 bad usage.
#include "Quillorn_h.h"

#include <wil/resource.h>
#include <wil/result.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
    constexpr HRESULT kNoFileOpen = static_cast<HRESULT>(0x8007000A);
    constexpr HRESULT kWriteFault = static_cast<HRESULT>(0x8007001D);
    constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002);
    // Not one of the component's codes: OpenFile succeeded but TagLib opened nothing.
    constexpr HRESULT kNotAudio = static_cast<HRESULT>(0x8007000B);

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

    std::wstring Hex(HRESULT hr)
    {
        wchar_t text[16];
        swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
        return text;
    }

    std::wstring Describe(HRESULT hr)
    {
        const wchar_t* meaning = nullptr;
        switch (hr)
        {
        case kNoFileOpen: meaning = L"no file open"; break;
        case kWriteFault: meaning = L"write fault, the file could not be saved"; break;
        case kNotFound: meaning = L"not found"; break;
        case kNotAudio: return L"not an audio file TagLib knows";
        case E_INVALIDARG: meaning = L"invalid argument"; break;
        case E_OUTOFMEMORY: meaning = L"out of memory"; break;
        case REGDB_E_CLASSNOTREG: meaning = L"the component is not registered (run regsvr32 Quillorn.dll)"; break;
        default: meaning = L"error"; break;
        }
        return std::wstring(meaning) + L" (" + Hex(hr) + L")";
    }

    std::string Utf8(const std::wstring& text)
    {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(size, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
        return bytes;
    }

    void Write(FILE* stream, const std::wstring& text)
    {
        const std::string bytes = Utf8(text);
        fwrite(bytes.data(), 1, bytes.size(), stream);
    }

    std::wstring Text(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

    std::wstring JsonString(const std::wstring& text)
    {
        std::wstring out = L"\"";
        for (wchar_t c : text)
        {
            switch (c)
            {
            case L'"': out += L"\\\""; break;
            case L'\\': out += L"\\\\"; break;
            case L'\n': out += L"\\n"; break;
            case L'\r': out += L"\\r"; break;
            case L'\t': out += L"\\t"; break;
            default:
                if (c < 0x20)
                {
                    wchar_t escaped[8];
                    swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                }
                else
                    out += c;
            }
        }
        return out + L"\"";
    }

    // Each worker thread owns one apartment for its whole life.
    using Apartment = wil::unique_couninitialize_call;

    struct Field
    {
        const wchar_t* option;  // "--title"; the report names it without the dashes
        HRESULT (STDMETHODCALLTYPE ITagsEditor::*text)(BSTR);
        HRESULT (STDMETHODCALLTYPE ITagsEditor::*number)(LONG);
    };

    const Field kFields[] = {
        {L"--title", &ITagsEditor::WriteTitleTag, nullptr},     {L"--artist", &ITagsEditor::WriteArtistTag, nullptr},
        {L"--album", &ITagsEditor::WriteAlbumTag, nullptr},     {L"--comment", &ITagsEditor::WriteCommentTag, nullptr},
        {L"--genre", &ITagsEditor::WriteGenreTag, nullptr},     {L"--year", nullptr, &ITagsEditor::WriteYearTag},
        {L"--track", nullptr, &ITagsEditor::WriteTrackTag},
    };

    struct FieldWrite
    {
        const Field* field;
        std::wstring text;
        LONG number;
    };

    struct Options
    {
        bool set = false;
        bool json = false;
        unsigned jobs = 0;
        std::vector<FieldWrite> writes;
        std::vector<std::wstring> inputs;
    };

    // A whole decimal number within LONG, or nothing.
    std::optional<long> ParseNumber(const wchar_t* text)
    {
        if (!*text)
            return std::nullopt;
        wchar_t* end = nullptr;
        errno = 0;
        const long value = wcstol(text, &end, 10);
        if (*end || errno == ERANGE)
            return std::nullopt;
        return value;
    }

    // Returns a message for bad usage, empty when the command line is good.
    std::wstring Parse(int argc, wchar_t** argv, Options& options)
    {
        if (argc < 2)
            return L"no command given";
        const std::wstring command = argv[1];
        if (command != L"show" && command != L"set")
            return L"unknown command '" + command + L"'";
        options.set = command == L"set";
        for (int i = 2; i < argc; ++i)
        {
            const std::wstring arg = argv[i];
            if (arg == L"--")
            {
                options.inputs.insert(options.inputs.end(), argv + i + 1, argv + argc);
                break;
            }
            if (arg.size() < 2 || arg[0] != L'-')
            {
                options.inputs.push_back(arg);
                continue;
            }
            if (arg == L"--json")
            {
                options.json = true;
                continue;
            }
            if (i + 1 >= argc)
                return L"option " + arg + L" needs a value";
            const wchar_t* value = argv[++i];
            if (arg == L"--jobs" || arg == L"-j")
            {
                const auto jobs = ParseNumber(value);
                if (!jobs || *jobs < 1 || *jobs > 64)
                    return L"--jobs takes a number from 1 to 64";
                options.jobs = static_cast<unsigned>(*jobs);
                continue;
            }
            const Field* field = nullptr;
            for (const Field& candidate : kFields)
            {
                if (options.set && arg == candidate.option)
                    field = &candidate;
            }
            if (!field)
                return L"unknown option " + arg;
            FieldWrite write{field, value, 0};
            if (field->number)
            {
                const auto number = ParseNumber(value);
                if (!number)
                    return arg + L" takes a whole number, not '" + value + L"'";
                write.number = *number;
            }
            options.writes.push_back(std::move(write));
        }
        if (options.inputs.empty())
            return L"no file or folder given";
        if (options.set && options.writes.empty())
            return L"set needs at least one field option";
        return {};
    }

    int Usage(const std::wstring& problem)
    {
        Write(stderr, L"quillorn-cli: " + problem + L"\n");
        fputs("usage: quillorn-cli show [--json] [--jobs N] FILE|DIR...\n"
              "       quillorn-cli set [--json] [--jobs N] [--title T] [--artist A] [--album B] [--comment C]\n"
              "                        [--genre G] [--year N] [--track N] FILE|DIR...\n",
              stderr);
        return 2;
    }

    bool IsFolder(const std::wstring& path)
    {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // Adds the files below a folder, sorted by name at each level so runs repeat.
    void Walk(const std::wstring& folder, std::vector<std::wstring>& files)
    {
        std::wstring base = folder;
        if (base.back() != L'\\' && base.back() != L'/')
            base += L'\\';
        WIN32_FIND_DATAW data{};
        wil::unique_hfind find(::FindFirstFileW((base + L"*").c_str(), &data));
        if (!find)
            return;
        std::vector<std::pair<std::wstring, bool>> entries;
        do
        {
            if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
                entries.emplace_back(data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        } while (::FindNextFileW(find.get(), &data));
        std::sort(entries.begin(), entries.end());
        for (const auto& [name, isFolder] : entries)
        {
            if (isFolder)
                Walk(base + name, files);
            else
                files.push_back(base + name);
        }
    }

    struct Outcome
    {
        std::wstring out;    // for stdout
        std::wstring error;  // one line per failure, for stderr
        bool failed = false;
        bool done = false;
    };

    HRESULT Open(ITagsEditor* editor, const std::wstring& path)
    {
        wil::unique_bstr name(::SysAllocString(path.c_str()));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, name.get());
        RETURN_IF_FAILED(editor->OpenFile(name.get()));
        ULONG opened = 0;
        RETURN_IF_FAILED(editor->IsFileOpened(&opened));
        return opened ? S_OK : kNotAudio;
    }

    void Fail(Outcome& outcome, const Options& options, const std::wstring& file, HRESULT hr)
    {
        outcome.failed = true;
        if (options.json)
            // No HRESULT for a file TagLib does not know: the component reported success.
            outcome.out += L"{\"file\":" + JsonString(file) + L",\"error\":" + JsonString(Describe(hr)) +
                           (hr == kNotAudio ? L"" : L",\"hresult\":\"" + Hex(hr) + L"\"") + L"}\n";
        else
            outcome.error += L"quillorn-cli: " + file + L": " + Describe(hr) + L"\n";
    }

    HRESULT Show(ITagsEditor* editor, const Options& options, const std::wstring& file, Outcome& outcome)
    {
        RETURN_IF_FAILED(Open(editor, file));
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
        editor->CloseFile();

        struct Row
        {
            const wchar_t* label;
            const wchar_t* key;
            std::wstring value;
            bool number;
            const wchar_t* unit;
        };
        const Row rows[] = {
            {L"File format", L"fileFormat", FileFormatName(fileFormat), false, L""},
            {L"Tag format", L"tagFormat", TagFormatName(tagFormat), false, L""},
            {L"Title", L"title", Text(tag.strTitle), false, L""},
            {L"Artist", L"artist", Text(tag.strArtist), false, L""},
            {L"Album", L"album", Text(tag.strAlbum), false, L""},
            {L"Comment", L"comment", Text(tag.strComment), false, L""},
            {L"Genre", L"genre", Text(tag.strGenre), false, L""},
            {L"Year", L"year", std::to_wstring(tag.nYear), true, L""},
            {L"Track", L"track", std::to_wstring(tag.nTrack), true, L""},
            {L"Rating", L"rating", Text(tag.strRating), false, L""},
            {L"Copyright", L"copyright", Text(tag.strCopyright), false, L""},
            {L"Length", L"length", std::to_wstring(audio.nLength), true, L" s"},
            {L"Bitrate", L"bitrate", std::to_wstring(audio.nBitrate), true, L" kbit/s"},
            {L"Sample rate", L"sampleRate", std::to_wstring(audio.nSampleRate), true, L" Hz"},
            {L"Channels", L"channels", std::to_wstring(audio.nChannels), true, L""},
        };
        if (options.json)
        {
            outcome.out += L"{\"file\":" + JsonString(file);
            for (const Row& row : rows)
                outcome.out += L",\"" + std::wstring(row.key) + L"\":" + (row.number ? row.value : JsonString(row.value));
            outcome.out += L"}\n";
        }
        else
        {
            outcome.out += file + L"\n";
            for (const Row& row : rows)
                outcome.out += L"  " + std::wstring(row.label) + std::wstring(13 - wcslen(row.label), L' ') + row.value + row.unit + L"\n";
        }
        return S_OK;
    }

    HRESULT Set(ITagsEditor* editor, const Options& options, const std::wstring& file, Outcome& outcome)
    {
        RETURN_IF_FAILED(Open(editor, file));
        std::wstring json = L"{\"file\":" + JsonString(file) + L",\"writes\":[";
        bool first = true;
        for (const FieldWrite& write : options.writes)
        {
            HRESULT written = E_OUTOFMEMORY;
            if (write.field->number)
                written = (editor->*write.field->number)(write.number);
            else if (wil::unique_bstr text(::SysAllocStringLen(write.text.c_str(), static_cast<UINT>(write.text.size()))); text)
                written = (editor->*write.field->text)(text.get());
            const std::wstring name = write.field->option + 2;
            json += std::wstring(first ? L"" : L",") + L"{\"field\":\"" + name + L"\",\"hresult\":\"" + Hex(written) +
                    L"\",\"result\":" + JsonString(SUCCEEDED(written) ? L"written" : Describe(written)) + L"}";
            first = false;
            if (SUCCEEDED(written))
            {
                if (!options.json)
                    outcome.out += file + L": " + name + L" written\n";
            }
            else
            {
                outcome.failed = true;
                if (!options.json)
                    outcome.error += L"quillorn-cli: " + file + L": " + name + L": " + Describe(written) + L"\n";
            }
        }
        editor->CloseFile();
        if (options.json)
            outcome.out += json + L"]}\n";
        return S_OK;
    }

    // Hands out file indexes to workers and results back to the printer, in order.
    class Batch
    {
    public:
        Batch(const Options& options, std::vector<std::wstring> files)
            : m_options(options), m_files(std::move(files)), m_outcomes(m_files.size())
        {
        }

        size_t Size() const { return m_files.size(); }
        void FlushEachFile(bool flush) { m_flushEachFile = flush; }

        void Work()
        {
            Apartment apartment;
            wil::com_ptr<ITagsEditor> editor;
            HRESULT created = apartment.Result();
            if (SUCCEEDED(created))
                created = ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, IID_ITagsEditor, editor.put_void());
            for (size_t index = m_next++; index < m_files.size(); index = m_next++)
            {
                Outcome outcome;
                const std::wstring& file = m_files[index];
                HRESULT hr = created;
                if (SUCCEEDED(hr))
                    hr = m_options.set ? Set(editor.get(), m_options, file, outcome) : Show(editor.get(), m_options, file, outcome);
                if (FAILED(hr))
                {
                    outcome.out.clear();
                    Fail(outcome, m_options, file, hr);
                }
                outcome.done = true;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_outcomes[index] = std::move(outcome);
                }
                m_ready.notify_one();
            }
        }

        // Prints each outcome as soon as it and all before it are done.
        bool Print(bool progress)
        {
            bool failed = false;
            for (size_t index = 0; index < m_files.size(); ++index)
            {
                Outcome outcome;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_ready.wait(lock, [&] { return m_outcomes[index].done; });
                    outcome = std::move(m_outcomes[index]);
                }
                // Blanks rather than an escape sequence: older consoles print those raw.
                if (progress)
                    fputs("\r                              \r", stderr);
                Write(stdout, outcome.out);
                // Into a pipe or file one write per buffer, not per file: each is a Wine server trip.
                if (progress || m_flushEachFile)
                    fflush(stdout);
                Write(stderr, outcome.error);
                failed = failed || outcome.failed;
                if (progress && index + 1 < m_files.size())
                    fprintf(stderr, "\r%u/%u files", static_cast<unsigned>(index + 1), static_cast<unsigned>(m_files.size()));
                fflush(stderr);
            }
            return !failed;
        }

    private:
        const Options& m_options;
        const std::vector<std::wstring> m_files;
        std::vector<Outcome> m_outcomes;
        std::atomic<size_t> m_next{0};
        std::mutex m_mutex;
        std::condition_variable m_ready;
        bool m_flushEachFile = false;
    };

    bool IsTerminal(DWORD which)
    {
        DWORD mode = 0;
        return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
    }
}

int wmain(int argc, wchar_t** argv)
{
    // UTF-8 with plain line feeds, the same on a console, in a pipe or a file.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Options options;
    if (const std::wstring problem = Parse(argc, argv, options); !problem.empty())
        return Usage(problem);

    std::vector<std::wstring> files;
    for (const std::wstring& input : options.inputs)
    {
        if (IsFolder(input))
            Walk(input, files);
        else
            files.push_back(input);  // a missing file is reported by the component
    }
    if (files.empty())
        return 0;

    unsigned jobs = options.jobs;
    if (jobs == 0)
    {
        SYSTEM_INFO system{};
        ::GetSystemInfo(&system);
        jobs = std::max<unsigned>(1, system.dwNumberOfProcessors);
    }
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, files.size()));

    Batch batch(options, std::move(files));
    batch.FlushEachFile(IsTerminal(STD_OUTPUT_HANDLE));
    static char buffer[1 << 16];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs; ++i)
        workers.emplace_back([&batch] { batch.Work(); });
    // A progress line only where a person watches; never into a pipe or file.
    const bool ok = batch.Print(batch.Size() > 1 && IsTerminal(STD_ERROR_HANDLE));
    for (std::thread& worker : workers)
        worker.join();
    return ok ? 0 : 1;
}

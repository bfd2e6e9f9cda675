// quillorn-cli as a separate process: what it prints, in which order, and how it exits.
#include "Fixtures.h"
#include "TestPaths.h"

#include <wil/resource.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
    struct CliRun
    {
        DWORD exitCode = 0xFFFFFFFF;
        std::string out;
        std::string err;
    };

    // Quotes one argument for CommandLineToArgvW; the arguments here end in no backslash.
    std::wstring Quote(const std::wstring& arg)
    {
        std::wstring quoted = L"\"";
        for (wchar_t c : arg)
            quoted += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
        return quoted + L"\"";
    }

    wil::unique_hfile Capture(const std::wstring& path)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        return wil::unique_hfile(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    // Runs the host with stdout and stderr going to files (never a console, so
    // the progress line must stay off).
    CliRun RunCli(const std::vector<std::wstring>& args)
    {
        std::wstring command = Quote(QUILLORN_CLI_PATH);
        for (const std::wstring& arg : args)
            command += L" " + Quote(arg);
        // Fresh names each run: Wine may still hold the last run's inherited handles a moment.
        static int runs = 0;
        const std::wstring stem = L"cli-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
        const std::wstring outPath = ScratchPath(stem + L".out");
        const std::wstring errPath = ScratchPath(stem + L".err");
        CliRun run;
        {
            wil::unique_hfile out = Capture(outPath);
            wil::unique_hfile err = Capture(errPath);
            EXPECT_TRUE(out && err);
            STARTUPINFOW startup{sizeof startup};
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = nullptr;
            startup.hStdOutput = out.get();
            startup.hStdError = err.get();
            PROCESS_INFORMATION process{};
            const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                                  nullptr, nullptr, &startup, &process);
            EXPECT_TRUE(started) << ::GetLastError();
            if (!started)
                return run;
            wil::unique_handle processHandle(process.hProcess);
            wil::unique_handle threadHandle(process.hThread);
            EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(processHandle.get(), 300000));
            ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
        }
        run.out = ReadAll(outPath);
        run.err = ReadAll(errPath);
        ::DeleteFileW(outPath.c_str());
        ::DeleteFileW(errPath.c_str());
        return run;
    }

    std::string Utf8(const std::wstring& text)
    {
        std::string bytes(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
        bytes.pop_back();
        return bytes;
    }

    // The path as the host prints it inside a JSON string.
    std::string JsonPath(const std::wstring& path)
    {
        std::string out;
        for (char c : Utf8(path))
        {
            if (c == '\\')
                out += '\\';
            out += c;
        }
        return out;
    }

    std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        if (start < text.size())
            lines.push_back(text.substr(start));
        return lines;
    }

    void MakeFolder(const std::wstring& path)
    {
        ::CreateDirectoryW(path.c_str(), nullptr);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
    }
}

class QuillornCli : public ::testing::Test
{
protected:
    // The host activates the class with CoCreateInstance: register it in the prefix.
    static void SetUpTestSuite()
    {
        wil::unique_hmodule dll(::LoadLibraryW(QUILLORN_DLL_PATH));
        ASSERT_TRUE(dll);
        auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(dll.get(), "DllRegisterServer"));
        ASSERT_NE(nullptr, registerServer);
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(S_OK, registerServer());
        ::CoUninitialize();
    }
};

// Every fixture TagLib reads, with a value that proves the right file was read.
struct Expected
{
    const wchar_t* fixture;
    const char* title;
    int year;
    const char* fileFormat;
};

const Expected kReadable[] = {
    {L"id3v2.mp3", "Café Müller – Déjà vu", 2001, "MPEG"},
    {L"id3v1.mp3", "ID3v1 Title", 1999, "MPEG"},
    {L"notags.mp3", "", 0, "MPEG"},
    {L"tagged.flac", "東京の夜", 2002, "FLAC"},
    {L"tagged.ogg", "🎵 Clef 𝄞", 2003, "Ogg"},
    {L"oggflac.oga", "Ogg FLAC Title", 2004, "Ogg"},
    {L"tagged.spx", "Speex Title", 2005, "Ogg"},
    {L"tagged.opus", "Opus Title", 2006, "Ogg"},
    {L"tagged.m4a", "Café Müller – Déjà vu (M4A)", 2007, "MP4"},
    {L"tagged.wma", "東京の夜 (WMA)", 2008, "ASF"},
    {L"tagged.wav", "WAV Title", 2009, "RIFF"},
    {L"tagged.aiff", "AIFF Title", 2010, "RIFF"},
    {L"tagged.wv", "WavPack Title", 2011, "WavPack"},
    {L"tagged.tta", "TrueAudio Title", 2012, "TrueAudio"},
    {L"tagged.mpc", "Musepack Title", 2013, "Musepack"},
};

// The files are given last to first: with several workers the output must still
// follow the command line, one JSON object per file with its own values.
TEST_F(QuillornCli, JsonFollowsTheCommandLineOrderWithParallelWorkers)
{
    std::vector<std::wstring> args = {L"show", L"--json", L"--jobs", L"4"};
    for (size_t i = std::size(kReadable); i-- > 0;)
        args.push_back(FixturePath(kReadable[i].fixture));
    const CliRun run = RunCli(args);
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(std::size(kReadable), lines.size()) << run.out;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const Expected& expected = kReadable[std::size(kReadable) - 1 - i];
        SCOPED_TRACE(Utf8(expected.fixture));
        const std::string& line = lines[i];
        EXPECT_EQ(0u, line.find("{\"file\":\"" + JsonPath(FixturePath(expected.fixture)) + "\",")) << line;
        EXPECT_NE(std::string::npos, line.find(std::string("\"title\":\"") + expected.title + "\",")) << line;
        EXPECT_NE(std::string::npos, line.find("\"year\":" + std::to_string(expected.year) + ",")) << line;
        EXPECT_NE(std::string::npos, line.find(std::string("\"fileFormat\":\"") + expected.fileFormat + "\",")) << line;
        EXPECT_EQ('}', line.back());
    }
}

// A folder is walked recursively, in name order, and the result does not depend
// on the number of workers.
TEST_F(QuillornCli, FoldersAreWalkedRecursivelyWhateverTheWorkerCount)
{
    const std::wstring root = ScratchPath(L"cli-tree");
    MakeFolder(root);
    MakeFolder(root + L"\\b-inner");
    MakeFolder(root + L"\\b-inner\\deeper");
    const std::pair<const wchar_t*, const wchar_t*> copies[] = {
        {L"tagged.flac", L"\\a.flac"}, {L"id3v1.mp3", L"\\b-inner\\deeper\\c.mp3"}, {L"tagged.wv", L"\\c.wv"}};
    for (const auto& [fixture, name] : copies)
        ASSERT_TRUE(::CopyFileW(FixturePath(fixture).c_str(), (root + name).c_str(), FALSE));

    const CliRun one = RunCli({L"show", L"--jobs", L"1", root});
    const CliRun three = RunCli({L"show", L"--jobs", L"3", root});
    EXPECT_EQ(0u, one.exitCode) << one.err;
    EXPECT_EQ(one.out, three.out);
    const size_t a = one.out.find(Utf8(root + L"\\a.flac\n"));
    const size_t c = one.out.find(Utf8(root + L"\\b-inner\\deeper\\c.mp3\n"));
    const size_t wv = one.out.find(Utf8(root + L"\\c.wv\n"));
    ASSERT_NE(std::string::npos, a) << one.out;
    ASSERT_NE(std::string::npos, c) << one.out;
    ASSERT_NE(std::string::npos, wv) << one.out;
    EXPECT_LT(a, c);
    EXPECT_LT(c, wv);
    EXPECT_NE(std::string::npos, one.out.find("  Title        ID3v1 Title\n")) << one.out;
    EXPECT_NE(std::string::npos, one.out.find("  Sample rate  11025 Hz\n")) << one.out;
}

// Usage mistakes exit 2 with a message and read no file.
TEST_F(QuillornCli, BadUsageExitsTwo)
{
    const std::wstring good = FixturePath(L"tagged.flac");
    const std::vector<std::vector<std::wstring>> cases = {
        {},
        {L"list", good},
        {L"show"},
        {L"show", L"--jobs", L"0", good},
        {L"show", L"--jobs", L"many", good},
        {L"show", L"--title", L"T", good},
        {L"show", good, L"--jobs"},
        {L"set", good},
        {L"set", L"--year", L"soon", good},
        {L"set", L"--bogus", L"x", good},
    };
    for (const auto& args : cases)
    {
        std::string joined;
        for (const auto& arg : args)
            joined += Utf8(arg) + " ";
        SCOPED_TRACE(joined);
        const CliRun run = RunCli(args);
        EXPECT_EQ(2u, run.exitCode);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(0u, run.err.find("quillorn-cli: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("usage:")) << run.err;
    }
}

// A file that fails gets one line on stderr naming it and the cause; the others
// are still shown and the exit code is 1.
TEST_F(QuillornCli, FailuresAreOneLineEachAndExitOne)
{
    struct Case
    {
        std::wstring file;
        const char* cause;
        const char* jsonTail;  // the component reports no HRESULT for a file TagLib does not know
    };
    const Case cases[] = {
        {FixturePath(L"missing.mp3"), "not found (0x80070002)", ",\"hresult\":\"0x80070002\"}\n"},
        {FixturePath(L"unknown.xyz"), "not an audio file TagLib knows", "}\n"},
    };
    for (const Case& failing : cases)
    {
        SCOPED_TRACE(failing.cause);
        const CliRun run = RunCli({L"show", FixturePath(L"tagged.ogg"), failing.file, FixturePath(L"tagged.wav")});
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_EQ("quillorn-cli: " + Utf8(failing.file) + ": " + failing.cause + "\n", run.err);
        const size_t ogg = run.out.find("  Title        🎵 Clef 𝄞\n");
        const size_t wav = run.out.find("  Title        WAV Title\n");
        EXPECT_NE(std::string::npos, ogg) << run.out;
        EXPECT_NE(std::string::npos, wav) << run.out;
        EXPECT_LT(ogg, wav);
        EXPECT_EQ(std::string::npos, run.out.find(Utf8(failing.file))) << run.out;

        const CliRun json = RunCli({L"show", L"--json", failing.file});
        EXPECT_EQ(1u, json.exitCode);
        EXPECT_EQ("{\"file\":\"" + JsonPath(failing.file) + "\",\"error\":\"" + failing.cause + "\"" + failing.jsonTail, json.out);
    }
}

// Each field given is one write, reported on its own line; a fresh process
// reads the values back.
TEST_F(QuillornCli, SetWritesEachFieldAndReportsIt)
{
    const std::wstring copy = ScratchCopy(L"tagged.flac");
    const CliRun set = RunCli({L"set", L"--title", L"Neue \"Zeit\" – 東京", L"--year", L"1987", L"--track", L"42", copy});
    EXPECT_EQ(0u, set.exitCode) << set.err;
    const std::string file = Utf8(copy);
    EXPECT_EQ(file + ": title written\n" + file + ": year written\n" + file + ": track written\n", set.out);

    const CliRun show = RunCli({L"show", L"--json", copy});
    EXPECT_EQ(0u, show.exitCode);
    EXPECT_NE(std::string::npos, show.out.find("\"title\":\"Neue \\\"Zeit\\\" – 東京\",")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("\"year\":1987,")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("\"track\":42,")) << show.out;
    EXPECT_NE(std::string::npos, show.out.find("\"artist\":\"🎵 Clef 𝄞 Quartet\",")) << show.out;
}

// A file another process holds without write sharing opens read-only: every
// write is a write fault, reported per field, and the exit code is 1.
TEST_F(QuillornCli, WriteFaultsAreReportedPerField)
{
    const std::wstring copy = ScratchCopy(L"tagged.ogg");
    wil::unique_hfile lock(::CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    const CliRun set = RunCli({L"set", L"--json", L"--album", L"A", L"--genre", L"G", copy});
    EXPECT_EQ(1u, set.exitCode);
    EXPECT_EQ("{\"file\":\"" + JsonPath(copy) +
                  "\",\"writes\":["
                  "{\"field\":\"album\",\"hresult\":\"0x8007001D\",\"result\":\"write fault, the file could not be saved (0x8007001D)\"},"
                  "{\"field\":\"genre\",\"hresult\":\"0x8007001D\",\"result\":\"write fault, the file could not be saved (0x8007001D)\"}]}\n",
              set.out);
}

// A slow first file (TagLib scans all of it for an MPEG frame) finishes after the
// files behind it; it must still be printed first.
TEST_F(QuillornCli, ASlowFirstFileIsStillPrintedFirst)
{
    const std::wstring slow = ScratchPath(L"cli-slow.mp3");
    {
        wil::unique_hfile file(::CreateFileW(slow.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        const std::vector<char> zeros(1 << 20, 0);
        for (int i = 0; i < 2; ++i)
        {
            DWORD written = 0;
            ASSERT_TRUE(::WriteFile(file.get(), zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr));
        }
    }
    const CliRun run = RunCli({L"show", L"--json", L"--jobs", L"2", slow, FixturePath(L"tagged.opus"),
                               FixturePath(L"tagged.spx"), FixturePath(L"tagged.wav")});
    EXPECT_EQ(0u, run.exitCode) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(4u, lines.size()) << run.out;
    EXPECT_EQ(0u, lines[0].find("{\"file\":\"" + JsonPath(slow) + "\"")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("\"title\":\"Opus Title\"")) << lines[1];
    EXPECT_NE(std::string::npos, lines[2].find("\"title\":\"Speex Title\"")) << lines[2];
    EXPECT_NE(std::string::npos, lines[3].find("\"title\":\"WAV Title\"")) << lines[3];
    ::DeleteFileW(slow.c_str());
}

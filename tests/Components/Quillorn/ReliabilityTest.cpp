// Hostile files, several threads on one object, and files that change under it:
// the component runs inside other people's processes and must survive them all.
#include "Bstr.h"
#include "Fixtures.h"
#include "PrivateBytes.h"
#include "QuillornLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
    const HRESULT kNoFileOpen = static_cast<HRESULT>(0x8007000A);
    const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
    const HRESULT kWriteFault = static_cast<HRESULT>(0x8007001D);

    const wchar_t* const kAudioFixtures[] = {
        L"id3v2.mp3",   L"id3v1.mp3",   L"notags.mp3", L"tagged.flac", L"tagged.ogg",
        L"oggflac.oga", L"tagged.spx",  L"tagged.opus", L"tagged.m4a", L"tagged.wma",
        L"tagged.wav",  L"tagged.aiff", L"tagged.wv",  L"tagged.tta",  L"tagged.mpc",
    };

    // Each test makes the objects it needs.
    using ReliabilityTest = QuillornTestSuite;

    std::string ReadBytes(const std::wstring& path) { return ReadAll(path); }

    bool WriteBytes(const std::wstring& path, const std::string& bytes)
    {
        wil::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

    // ---------------------------------------------------------------------
    // Mutation sweep

    // One reproducible mutant of a file: which kind of damage is chosen by the seed.
    std::string Mutate(const std::string& original, uint32_t seed)
    {
        std::mt19937 random(seed);
        std::string bytes = original;
        auto at = [&](size_t size) { return size ? std::uniform_int_distribution<size_t>(0, size - 1)(random) : 0; };
        const int rounds = 1 + static_cast<int>(random() % 3);
        for (int round = 0; round < rounds && !bytes.empty(); ++round)
        {
            switch (random() % 6)
            {
            case 0: // a few bit flips
                for (int i = 0, n = 1 + random() % 8; i < n; ++i)
                    bytes[at(bytes.size())] ^= static_cast<char>(1u << (random() % 8));
                break;
            case 1: // truncation
                bytes.resize(at(bytes.size()));
                break;
            case 2: // a range cut out
            {
                const size_t from = at(bytes.size());
                bytes.erase(from, 1 + at(std::min<size_t>(bytes.size() - from, 4096)));
                break;
            }
            case 3: // a range duplicated
            {
                const size_t from = at(bytes.size());
                const std::string range = bytes.substr(from, 1 + at(4096));
                bytes.insert(at(bytes.size()), range);
                break;
            }
            case 4: // junk inserted
            {
                std::string junk(1 + at(512), '\0');
                for (char& c : junk)
                    c = static_cast<char>(random());
                bytes.insert(at(bytes.size()), junk);
                break;
            }
            default: // sizes and counts pushed to extremes: 0x00 or 0xFF runs
            {
                const size_t from = at(bytes.size());
                const char fill = random() % 2 ? '\xff' : '\0';
                for (size_t i = from; i < std::min(bytes.size(), from + 1 + at(16)); ++i)
                    bytes[i] = fill;
                break;
            }
            }
        }
        return bytes;
    }

    // The mutant under test, reported if the process dies on it.
    std::wstring g_currentMutant;
    LONG WINAPI ReportFatal(EXCEPTION_POINTERS* info)
    {
        switch (info->ExceptionRecord->ExceptionCode)
        {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
            fwprintf(stderr, L"\nfatal exception 0x%08lX on mutant %ls\n",
                     static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_currentMutant.c_str());
            fflush(stderr);
            ::TerminateProcess(::GetCurrentProcess(), 3);
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    // Runs every method on a damaged file and then proves the object still works.
    void Exercise(ITagsEditor* editor, const std::wstring& path, const std::wstring& goodFile)
    {
        const HRESULT opened = editor->OpenFile(MakeBstr(path).get());
        ASSERT_TRUE(opened == S_OK || opened == E_OUTOFMEMORY) << std::hex << opened;
        ULONG isOpen = 7, value = 7;
        ASSERT_EQ(S_OK, editor->IsFileOpened(&isOpen));
        ASSERT_TRUE(isOpen == 0 || isOpen == 1);
        EXPECT_EQ(S_OK, editor->IsValidFile(&value));
        EXPECT_EQ(S_OK, editor->IsReadOnlyFile(&value));

        MediaTagRecord tag;
        TAudioOptions options{};
        TMediaTagFormatType tagFormat{};
        TMediaFileFormatType fileFormat{};
        const HRESULT expected = isOpen ? S_OK : kNoFileOpen;
        EXPECT_EQ(expected, editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(expected, editor->GetAudioOptions(&options));
        EXPECT_EQ(expected, editor->GetMediaTagFormatType(&tagFormat));
        EXPECT_EQ(expected, editor->GetMediaFileFormatType(&fileFormat));
        if (isOpen)
        {
            const HRESULT written = editor->WriteTitleTag(MakeBstr(L"mutant").get());
            EXPECT_TRUE(written == S_OK || written == kWriteFault) << std::hex << written;
            const HRESULT year = editor->WriteYearTag(2000);
            EXPECT_TRUE(year == S_OK || year == kWriteFault) << std::hex << year;
        }
        EXPECT_EQ(S_OK, editor->CloseFile());
        EXPECT_TRUE(::DeleteFileW(path.c_str())) << "a handle to the mutant is left open";

        // No lock is left held and nothing of the mutant survives: a good file opens as usual.
        ASSERT_EQ(S_OK, editor->OpenFile(MakeBstr(goodFile).get())) << "after " << std::string(path.begin(), path.end());
        ULONG goodOpen = 0;
        ASSERT_EQ(S_OK, editor->IsFileOpened(&goodOpen));
        ASSERT_EQ(1u, goodOpen) << "a good file no longer opens after " << std::string(path.begin(), path.end());
        MediaTagRecord good;
        ASSERT_EQ(S_OK, editor->GetSimpleMediaTags(&good));
        EXPECT_EQ(L"WAV Title", ToWString(good.strTitle));
        EXPECT_EQ(S_OK, editor->CloseFile());
    }

    int MutantsPerFixture()
    {
        const char* total = std::getenv("QUILLORN_MUTANTS");
        const int mutants = total ? std::atoi(total) : 3000;
        return std::max(1, mutants / static_cast<int>(std::size(kAudioFixtures)));
    }

    TEST_F(ReliabilityTest, MutantsNeitherCrashNorHangNorLeak)
    {
        PVOID handler = ::AddVectoredExceptionHandler(1, ReportFatal);
        auto editor = s_library->CreateEditor();
        // A private copy: another process reading the fixtures must not get in the way.
        const std::wstring goodFile =
            ScratchCopy(L"tagged.wav", L"reliability-good-" + std::to_wstring(::GetCurrentProcessId()) + L".wav");
        const int perFixture = MutantsPerFixture();
        int mutants = 0;
        SIZE_T baseline = 0;
        for (size_t f = 0; f < std::size(kAudioFixtures) && !HasFatalFailure(); ++f)
        {
            const std::wstring fixture = kAudioFixtures[f];
            // QUILLORN_MUTANT_FIXTURE=name narrows a run to one fixture's mutants.
            const char* only = std::getenv("QUILLORN_MUTANT_FIXTURE");
            if (only && fixture != std::wstring(only, only + strlen(only)))
                continue;
            const std::string original = ReadBytes(FixturePath(fixture));
            for (int i = 0; i < perFixture && !HasFatalFailure(); ++i)
            {
                const uint32_t seed = static_cast<uint32_t>(f * 1000003u + i);
                // The process id keeps a long run and the suite apart in one scratch folder.
                const std::wstring path = ScratchPath(L"mutant-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                                      std::to_wstring(seed) + L"-" + fixture);
                g_currentMutant = path + L" (seed " + std::to_wstring(seed) + L")";
                // QUILLORN_MUTANT_SEED=n replays one mutant and keeps a copy of it.
                const char* replay = std::getenv("QUILLORN_MUTANT_SEED");
                if (replay && std::strtoul(replay, nullptr, 10) != seed)
                    continue;
                const std::string mutant = Mutate(original, seed);
                ASSERT_TRUE(WriteBytes(path, mutant));
                if (replay)
                    ASSERT_TRUE(WriteBytes(ScratchPath(L"replayed-" + std::to_wstring(seed) + L"-" + fixture), mutant));
                const int failuresBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
                Exercise(editor.get(), path, goodFile);
                if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != failuresBefore)
                {
                    // Kept for tests/fixtures/mutants/, where every mutant that ever failed stays.
                    ::CreateDirectoryW(ScratchPath(L"failed-mutants").c_str(), nullptr);
                    WriteBytes(ScratchPath(L"failed-mutants\\mutant-" + std::to_wstring(seed) + L"-" + fixture), mutant);
                }
                ++mutants;
                if (mutants == 100)
                    baseline = PrivateBytes();
                if (std::getenv("QUILLORN_MUTANT_TRACE") && mutants % 100 == 0)
                    printf("%d mutants, private bytes %lu KiB\n", mutants, static_cast<unsigned long>(PrivateBytes() / 1024));
            }
        }
        ::RemoveVectoredExceptionHandler(handler);
        // TagLib's allocations for one file are all returned when it is closed.
        if (mutants > 100)
            EXPECT_LT(PrivateBytes(), baseline + 2 * 1024 * 1024) << "memory grew over the sweep";
        printf("mutants: %d, crashes: 0, hangs: 0, private bytes %lu KiB\n", mutants,
               static_cast<unsigned long>(PrivateBytes() / 1024));
    }

    // Mutants that once broke the component stay as fixtures.
    TEST_F(ReliabilityTest, KeptMutantsStillPass)
    {
        auto editor = s_library->CreateEditor();
        WIN32_FIND_DATAW found;
        const std::wstring folder = FixturePath(L"mutants");
        wil::unique_hfind search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
        int kept = 0;
        for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found))
        {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || std::wstring(found.cFileName) == L"README.md")
                continue;
            const std::wstring copy = ScratchCopy(L"mutants\\" + std::wstring(found.cFileName),
                                                  std::wstring(L"kept-") + found.cFileName);
            Exercise(editor.get(), copy, ScratchCopy(L"tagged.wav", L"reliability-good.wav"));
            ++kept;
        }
        RecordProperty("kept", kept);
    }

    // ---------------------------------------------------------------------
    // One object, several threads

    TEST_F(ReliabilityTest, OneObjectSurvivesSeveralThreads)
    {
        const wchar_t* const sources[] = {L"tagged.flac", L"tagged.ogg", L"id3v2.mp3", L"tagged.wav"};
        std::vector<std::wstring> files;
        std::set<std::pair<std::wstring, std::wstring>> consistent = {{L"", L""}};
        {
            auto reader = s_library->CreateEditor();
            for (const wchar_t* source : sources)
            {
                files.push_back(ScratchCopy(source, std::wstring(L"threads-") + source));
                ASSERT_EQ(S_OK, Open(reader.get(), files.back()));
                MediaTagRecord tag;
                ASSERT_EQ(S_OK, reader->GetSimpleMediaTags(&tag));
                consistent.insert({ToWString(tag.strTitle), ToWString(tag.strArtist)});
            }
        }

        auto editor = s_library->CreateEditor();
        ITagsEditor* shared = editor.get(); // calls only: the plain count is not touched across threads
        std::atomic<int> inconsistent{0}, unexpected{0}, calls{0};
        auto worker = [&](unsigned seed) {
            std::mt19937 random(seed);
            for (int i = 0; i < 400; ++i)
            {
                HRESULT hr = S_OK;
                switch (random() % 8)
                {
                case 0:
                    hr = Open(shared, files[random() % files.size()]);
                    break;
                case 1:
                    hr = shared->CloseFile();
                    break;
                case 2:
                {
                    MediaTagRecord tag;
                    hr = shared->GetSimpleMediaTags(&tag);
                    if (hr == S_OK && !consistent.count({ToWString(tag.strTitle), ToWString(tag.strArtist)}))
                        ++inconsistent;
                    break;
                }
                case 3:
                {
                    ULONG value = 7;
                    hr = shared->IsValidFile(&value);
                    if (value > 1)
                        ++unexpected;
                    break;
                }
                case 4:
                    hr = shared->WriteCommentTag(MakeBstr(L"comment " + std::to_wstring(i)).get());
                    break;
                case 5:
                    hr = shared->WriteTrackTag(static_cast<LONG>(i));
                    break;
                case 6:
                {
                    TAudioOptions options{};
                    hr = shared->GetAudioOptions(&options);
                    break;
                }
                default:
                {
                    wil::unique_bstr name;
                    hr = shared->GetOpenedFileName(name.put());
                    break;
                }
                }
                if (hr != S_OK && hr != kNoFileOpen && hr != kWriteFault)
                    ++unexpected;
                ++calls;
            }
        };
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < 4; ++t)
            threads.emplace_back(worker, 1234 + t);
        for (auto& thread : threads)
            thread.join();

        EXPECT_EQ(4 * 400, calls.load());
        EXPECT_EQ(0, inconsistent.load()) << "a record mixed two files";
        EXPECT_EQ(0, unexpected.load());
        // Still a working object afterwards.
        ASSERT_EQ(S_OK, Open(shared, files[0]));
        ULONG valid = 0;
        EXPECT_EQ(S_OK, shared->IsValidFile(&valid));
        EXPECT_EQ(1u, valid);
        EXPECT_EQ(S_OK, shared->CloseFile());
        // No file object of a racing open was left behind holding its file.
        for (const std::wstring& file : files)
            EXPECT_TRUE(::DeleteFileW(file.c_str())) << "still held: " << std::string(file.begin(), file.end());
    }

    // ---------------------------------------------------------------------
    // The file changing under the component

    TEST_F(ReliabilityTest, AnOpenFileCannotBeDeletedOrRenamedAndStaysWritable)
    {
        auto editor = s_library->CreateEditor();
        const std::wstring path = ScratchCopy(L"tagged.flac");
        ASSERT_EQ(S_OK, Open(editor.get(), path));
        EXPECT_FALSE(::DeleteFileW(path.c_str()));
        EXPECT_FALSE(::MoveFileW(path.c_str(), (path + L".moved").c_str()));
        EXPECT_EQ(S_OK, editor->WriteTitleTag(MakeBstr(L"still here").get()));
        EXPECT_EQ(S_OK, editor->CloseFile());
        MediaTagRecord tag;
        auto reader = s_library->CreateEditor();
        ASSERT_EQ(S_OK, Open(reader.get(), path));
        ASSERT_EQ(S_OK, reader->GetSimpleMediaTags(&tag));
        EXPECT_EQ(L"still here", ToWString(tag.strTitle));
    }

    TEST_F(ReliabilityTest, LongPaths)
    {
        auto editor = s_library->CreateEditor();
        std::wstring folder = std::wstring(L"\\\\?\\") + QUILLORN_SCRATCH_DIR;
        for (int i = 0; i < 6; ++i)
        {
            folder += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + i));
            ::CreateDirectoryW(folder.c_str(), nullptr);
        }
        const std::wstring longPath = folder + L"\\long.flac";
        ASSERT_GE(longPath.size() - 4, 260u);
        ASSERT_TRUE(::CopyFileW(FixturePath(L"tagged.flac").c_str(), longPath.c_str(), FALSE));

        ASSERT_EQ(S_OK, Open(editor.get(), longPath));
        ULONG isOpen = 0;
        ASSERT_EQ(S_OK, editor->IsFileOpened(&isOpen));
        EXPECT_EQ(1u, isOpen);
        EXPECT_EQ(S_OK, editor->WriteTitleTag(MakeBstr(L"long path").get()));
        MediaTagRecord tag;
        ASSERT_EQ(S_OK, editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(L"long path", ToWString(tag.strTitle));
        EXPECT_EQ(S_OK, editor->CloseFile());

        // Without the prefix the same path either opens or is not found; never half-open.
        const HRESULT plain = Open(editor.get(), longPath.substr(4));
        ASSERT_EQ(S_OK, editor->IsFileOpened(&isOpen));
        EXPECT_TRUE((plain == S_OK && isOpen == 1) || (plain == kFileNotFound && isOpen == 0)) << std::hex << plain;
        EXPECT_EQ(S_OK, editor->CloseFile());
        EXPECT_TRUE(::DeleteFileW(longPath.c_str()));
    }
}

namespace
{
    // A bit flip made one MP4 atom claim 256 MiB inside a 5 KiB file; TagLib 1.13
    // then saves without end. The write is refused and the file left as it was.
    TEST_F(QuillornTestSuite, AnMp4FileTagLibWouldWriteWithoutEndIsRefused)
    {
        const std::wstring path = ScratchCopy(L"mutants\\mutant-8001474-tagged.m4a", L"refused.m4a");
        const std::string bytes = ReadAll(path);
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        EXPECT_EQ(static_cast<HRESULT>(0x8007001D), m_editor->WriteTitleTag(MakeBstr(L"mutant").get()));
        EXPECT_EQ(S_OK, m_editor->CloseFile());
        EXPECT_TRUE(bytes == ReadAll(path)) << "the refused file changed";

        // A sound MP4 file still takes writes.
        ASSERT_EQ(S_OK, Open(m_editor.get(), ScratchCopy(L"tagged.m4a", L"sound.m4a")));
        EXPECT_EQ(S_OK, m_editor->WriteTitleTag(MakeBstr(L"fine").get()));
    }
}

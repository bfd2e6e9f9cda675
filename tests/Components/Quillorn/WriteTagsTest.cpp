// Writing single fields through to the file, and the snapshot-only fields.
#include "Bstr.h"
#include "Fixtures.h"
#include "QuillornLibrary.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace
{
    const HRESULT kNoFileOpen = static_cast<HRESULT>(0x8007000A);
    const HRESULT kWriteFault = static_cast<HRESULT>(0x8007001D);

    const wchar_t kLatin[] = L"Caf\u00e9 M\u00fcller \u2013 D\u00e9j\u00e0 vu";
    const wchar_t kCjk[] = L"\u6771\u4eac\u306e\u591c";
    const wchar_t kAstral[] = L"\U0001F3B5 Clef \U0001D11E";

    class WriteTagsTest : public QuillornTestSuite
    {
    protected:
        static void ReadTags(ITagsEditor* editor, MediaTagRecord& tag)
        {
            tag.Clear();
            ASSERT_EQ(S_OK, editor->GetSimpleMediaTags(&tag));
        }

        // What a new object reads from the file.
        static void ReadFromFile(const std::wstring& path, MediaTagRecord& tag)
        {
            auto reader = s_library->CreateEditor();
            ASSERT_EQ(S_OK, Open(reader.get(), path));
            ReadTags(reader.get(), tag);
        }

    };

    // The seven fields that reach the file: how to write one and where it shows.
    struct FileField
    {
        const char* name;
        std::function<HRESULT(ITagsEditor*)> write;
        std::function<std::wstring(const TSimpleMediaTag&)> read;
        std::wstring expected;
    };

    std::wstring Number(LONG value) { return std::to_wstring(value); }

    std::vector<FileField> FileFields()
    {
        auto text = [](const char* name, HRESULT (STDMETHODCALLTYPE ITagsEditor::*method)(BSTR), BSTR TSimpleMediaTag::*field,
                       std::wstring value) {
            return FileField{name,
                             [=](ITagsEditor* editor) { return (editor->*method)(MakeBstr(value).get()); },
                             [=](const TSimpleMediaTag& tag) { return ToWString(tag.*field); }, value};
        };
        auto number = [](const char* name, HRESULT (STDMETHODCALLTYPE ITagsEditor::*method)(LONG), LONG TSimpleMediaTag::*field,
                         LONG value) {
            return FileField{name, [=](ITagsEditor* editor) { return (editor->*method)(value); },
                             [=](const TSimpleMediaTag& tag) { return Number(tag.*field); }, Number(value)};
        };
        return {
            text("title", &ITagsEditor::WriteTitleTag, &TSimpleMediaTag::strTitle, std::wstring(kLatin) + L" title"),
            text("artist", &ITagsEditor::WriteArtistTag, &TSimpleMediaTag::strArtist, std::wstring(kCjk) + L" artist"),
            text("album", &ITagsEditor::WriteAlbumTag, &TSimpleMediaTag::strAlbum, std::wstring(kAstral) + L" album"),
            text("comment", &ITagsEditor::WriteCommentTag, &TSimpleMediaTag::strComment, L"written comment"),
            text("genre", &ITagsEditor::WriteGenreTag, &TSimpleMediaTag::strGenre, L"Jazz"),
            number("year", &ITagsEditor::WriteYearTag, &TSimpleMediaTag::nYear, 1987),
            number("track", &ITagsEditor::WriteTrackTag, &TSimpleMediaTag::nTrack, 5),
        };
    }

    class RoundTripTest : public WriteTagsTest, public ::testing::WithParamInterface<const wchar_t*>
    {
    };

    // Every field written on its own, one save each; the snapshot, a new reader and
    // the file agree, and the audio TagLib reads is what it was.
    TEST_P(RoundTripTest, EveryFieldReachesTheFile)
    {
        const std::wstring fixture = GetParam();
        const std::wstring path = ScratchCopy(fixture, L"roundtrip-" + fixture);
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        TAudioOptions before{};
        ASSERT_EQ(S_OK, m_editor->GetAudioOptions(&before));

        const auto fields = FileFields();
        for (const FileField& field : fields)
        {
            SCOPED_TRACE(field.name);
            ASSERT_EQ(S_OK, field.write(m_editor.get()));
            MediaTagRecord snapshot;
            ReadTags(m_editor.get(), snapshot);
            EXPECT_EQ(field.expected, field.read(snapshot));
        }

        ASSERT_EQ(S_OK, m_editor->CloseFile());
        MediaTagRecord reread;
        ReadFromFile(path, reread);
        for (const FileField& field : fields)
            EXPECT_EQ(field.expected, field.read(reread)) << field.name;

        auto reader = s_library->CreateEditor();
        ASSERT_EQ(S_OK, Open(reader.get(), path));
        TAudioOptions after{};
        ASSERT_EQ(S_OK, reader->GetAudioOptions(&after));
        EXPECT_EQ(before.nLength, after.nLength);
        EXPECT_EQ(before.nSampleRate, after.nSampleRate);
        EXPECT_EQ(before.nChannels, after.nChannels);
    }

    // The files are left in the scratch folder for the independent reader.
    INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest,
                             ::testing::Values(L"id3v2.mp3", L"id3v1.mp3", L"notags.mp3", L"tagged.flac", L"tagged.ogg",
                                               L"oggflac.oga", L"tagged.spx", L"tagged.opus", L"tagged.m4a",
                                               L"tagged.wma", L"tagged.wav", L"tagged.aiff", L"tagged.wv",
                                               L"tagged.tta", L"tagged.mpc"),
                             [](const auto& info) {
                                 std::string name;
                                 for (const wchar_t* c = info.param; *c; ++c)
                                     name += iswalnum(*c) ? static_cast<char>(*c) : '_';
                                 return name;
                             });

    TEST_F(WriteTagsTest, EveryMethodNeedsAnOpenFileWhateverItsArgument)
    {
        auto blank = MakeBstr(L"x");
        const std::function<HRESULT(BSTR)> textMethods[] = {
            [&](BSTR s) { return m_editor->WriteTitleTag(s); },    [&](BSTR s) { return m_editor->WriteArtistTag(s); },
            [&](BSTR s) { return m_editor->WriteAlbumTag(s); },    [&](BSTR s) { return m_editor->WriteCommentTag(s); },
            [&](BSTR s) { return m_editor->WriteGenreTag(s); },    [&](BSTR s) { return m_editor->WriteRatingTag(s); },
            [&](BSTR s) { return m_editor->WriteCopyrightTag(s); },
        };
        for (const auto& method : textMethods)
        {
            EXPECT_EQ(kNoFileOpen, method(blank.get()));
            EXPECT_EQ(kNoFileOpen, method(nullptr));
        }
        for (LONG value : {0L, -1L, 7L})
        {
            EXPECT_EQ(kNoFileOpen, m_editor->WriteYearTag(value));
            EXPECT_EQ(kNoFileOpen, m_editor->WriteTrackTag(value));
            EXPECT_EQ(kNoFileOpen, m_editor->WriteTagTag(value));
        }

        // With a file open, a null string is refused and nothing is saved.
        const std::wstring path = ScratchCopy(L"tagged.flac");
        const std::string bytes = ReadAll(path);
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        for (const auto& method : textMethods)
            EXPECT_EQ(E_INVALIDARG, method(nullptr));
        ASSERT_EQ(S_OK, m_editor->CloseFile());
        EXPECT_EQ(bytes, ReadAll(path));
    }

    TEST_F(WriteTagsTest, TextIsCutAtAnEmbeddedNulAndEmptyTextIsWritten)
    {
        const std::wstring path = ScratchCopy(L"id3v2.mp3");
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        ASSERT_EQ(S_OK, m_editor->WriteTitleTag(MakeBstr(std::wstring(L"before") + L'\0' + L"after").get()));
        ASSERT_EQ(S_OK, m_editor->WriteAlbumTag(MakeBstr(L"").get()));
        ASSERT_EQ(S_OK, m_editor->CloseFile());

        MediaTagRecord tag;
        ReadFromFile(path, tag);
        EXPECT_EQ(L"before", ToWString(tag.strTitle));
        EXPECT_EQ(L"", ToWString(tag.strAlbum)) << "the album was not empty before";
    }

    TEST_F(WriteTagsTest, NumbersGoToTagLibWithTheSameBits)
    {
        const std::wstring path = ScratchCopy(L"tagged.flac");
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        ASSERT_EQ(S_OK, m_editor->WriteYearTag(-1));
        ASSERT_EQ(S_OK, m_editor->WriteTrackTag(0));
        MediaTagRecord tag;
        ReadTags(m_editor.get(), tag);
        EXPECT_EQ(-1, tag.nYear) << "4294967295 read back as the same bits";
        EXPECT_EQ(0, tag.nTrack);
        ASSERT_EQ(S_OK, m_editor->CloseFile());

        ReadFromFile(path, tag);
        EXPECT_EQ(-1, tag.nYear);
        EXPECT_EQ(0, tag.nTrack) << "track 0 clears the track";
    }

    TEST_F(WriteTagsTest, SnapshotOnlyFieldsNeverReachTheFile)
    {
        for (const wchar_t* fixture : {L"tagged.wma", L"id3v2.mp3"})
        {
            SCOPED_TRACE(std::string(fixture, fixture + wcslen(fixture)));
            const std::wstring path = ScratchCopy(fixture);
            const std::string bytes = ReadAll(path);
            ASSERT_EQ(S_OK, Open(m_editor.get(), path));
            MediaTagRecord original;
            ReadTags(m_editor.get(), original);

            ASSERT_EQ(S_OK, m_editor->WriteRatingTag(MakeBstr(L"R").get()));
            ASSERT_EQ(S_OK, m_editor->WriteCopyrightTag(MakeBstr(kCjk).get()));
            ASSERT_EQ(S_OK, m_editor->WriteTagTag(7));
            MediaTagRecord changed;
            ReadTags(m_editor.get(), changed);
            EXPECT_EQ(L"R", ToWString(changed.strRating));
            EXPECT_EQ(kCjk, ToWString(changed.strCopyright));
            EXPECT_EQ(7, changed.nTag);
            TAudioOptions options{};
            ASSERT_EQ(S_OK, m_editor->GetAudioOptions(&options));
            EXPECT_EQ(0, options.nTag);

            ASSERT_EQ(S_OK, m_editor->CloseFile());
            EXPECT_EQ(bytes, ReadAll(path)) << "the file is untouched";
            ASSERT_EQ(S_OK, Open(m_editor.get(), path));
            MediaTagRecord reopened;
            ReadTags(m_editor.get(), reopened);
            EXPECT_EQ(ToWString(original.strRating), ToWString(reopened.strRating));
            EXPECT_EQ(ToWString(original.strCopyright), ToWString(reopened.strCopyright));
            EXPECT_EQ(0, reopened.nTag);
            ASSERT_EQ(S_OK, m_editor->CloseFile());
        }
    }

    TEST_F(WriteTagsTest, ReadOnlyFileGivesWriteFaultAndKeepsEverything)
    {
        const std::wstring path = ScratchCopy(L"tagged.ogg");
        const std::string bytes = ReadAll(path);
        // Another process's handle that denies writing makes TagLib open read-only
        // (Wine running as root ignores the read-only attribute).
        wil::unique_hfile lock(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        ASSERT_EQ(S_OK, Open(m_editor.get(), path));
        ULONG readOnly = 0;
        ASSERT_EQ(S_OK, m_editor->IsReadOnlyFile(&readOnly));
        ASSERT_EQ(1u, readOnly);

        MediaTagRecord before;
        ReadTags(m_editor.get(), before);
        EXPECT_EQ(kWriteFault, m_editor->WriteTitleTag(MakeBstr(L"new").get()));
        EXPECT_EQ(kWriteFault, m_editor->WriteYearTag(1900));
        MediaTagRecord after;
        ReadTags(m_editor.get(), after);
        EXPECT_EQ(ToWString(before.strTitle), ToWString(after.strTitle));
        EXPECT_EQ(before.nYear, after.nYear);
        ASSERT_EQ(S_OK, m_editor->CloseFile());
        lock.reset();
        EXPECT_EQ(bytes, ReadAll(path));
    }

    TEST_F(WriteTagsTest, RecordStringsAreFreshAndTheCallersToFree)
    {
        ASSERT_EQ(S_OK, Open(m_editor.get(), FixturePath(L"tagged.wma")));
        MediaTagRecord first, second;
        ReadTags(m_editor.get(), first);
        ReadTags(m_editor.get(), second);
        EXPECT_NE(first.strTitle, second.strTitle);
        EXPECT_EQ(ToWString(first.strTitle), ToWString(second.strTitle));

        // Overwritten without being freed: the old pointers stay valid and ours to free.
        TSimpleMediaTag reused{};
        ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(&reused));
        BSTR oldTitle = reused.strTitle;
        ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(&reused));
        EXPECT_NE(oldTitle, reused.strTitle);
        EXPECT_EQ(ToWString(first.strTitle), ToWString(oldTitle));
        ::SysFreeString(oldTitle);
        for (BSTR field : {reused.strTitle, reused.strArtist, reused.strAlbum, reused.strComment, reused.strGenre,
                           reused.strRating, reused.strCopyright})
            ::SysFreeString(field);
    }
}

#include "ImportHook.h"

namespace
{
    // Counts the component's string allocations and fails the one asked for.
    struct AllocationFault
    {
        static int calls;
        static int failAt;
        static int freed;
        static BSTR WINAPI SysAllocString(const OLECHAR* text)
        {
            return ++calls == failAt ? nullptr : ::SysAllocString(text);
        }
        static void WINAPI SysFreeString(BSTR text)
        {
            if (text)
                ++freed;
            ::SysFreeString(text);
        }
    };
    int AllocationFault::calls = 0;
    int AllocationFault::failAt = 0;
    int AllocationFault::freed = 0;

    TEST_F(WriteTagsTest, FailedStringAllocationReportsOutOfMemoryAndLeavesTheRecord)
    {
        ASSERT_EQ(S_OK, Open(m_editor.get(), FixturePath(L"tagged.wma")));
        ImportHook alloc(s_library->Module(), "oleaut32.dll", "SysAllocString",
                         reinterpret_cast<void*>(&AllocationFault::SysAllocString));
        ImportHook release(s_library->Module(), "oleaut32.dll", "SysFreeString",
                           reinterpret_cast<void*>(&AllocationFault::SysFreeString));
        ASSERT_TRUE(alloc.Installed());
        ASSERT_TRUE(release.Installed());

        for (int failAt = 1; failAt <= 7; ++failAt)
        {
            SCOPED_TRACE(failAt);
            AllocationFault::calls = 0;
            AllocationFault::failAt = failAt;
            AllocationFault::freed = 0;
            BSTR sentinel = reinterpret_cast<BSTR>(0x1234);
            TSimpleMediaTag tag = {sentinel, sentinel, sentinel, sentinel, sentinel, sentinel, sentinel, -5, -6, -7};
            EXPECT_EQ(E_OUTOFMEMORY, m_editor->GetSimpleMediaTags(&tag));
            EXPECT_EQ(failAt, AllocationFault::calls) << "stops at the first failure";
            EXPECT_EQ(failAt - 1, AllocationFault::freed) << "the strings already made are freed";
            for (BSTR field : {tag.strTitle, tag.strArtist, tag.strAlbum, tag.strComment, tag.strGenre, tag.strRating,
                               tag.strCopyright})
                EXPECT_EQ(sentinel, field);
            EXPECT_EQ(-5, tag.nYear);
            EXPECT_EQ(-7, tag.nTag);
        }

        AllocationFault::failAt = 0;
        AllocationFault::calls = 0;
        MediaTagRecord tag;
        EXPECT_EQ(S_OK, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(7, AllocationFault::calls);

        AllocationFault::calls = 0;
        AllocationFault::failAt = 1;
        wil::unique_bstr name;
        EXPECT_EQ(E_OUTOFMEMORY, m_editor->GetOpenedFileName(name.put()));
        EXPECT_EQ(nullptr, name.get());
    }
}

#include "PrivateBytes.h"

#include <vector>

namespace
{
    const int kCalls = 20000;
    const SIZE_T kAllowedGrowth = 512 * 1024;

    void QueryAndFree(ITagsEditor* editor)
    {
        MediaTagRecord tag;
        EXPECT_EQ(S_OK, editor->GetSimpleMediaTags(&tag));
        TAudioOptions options{};
        EXPECT_EQ(S_OK, editor->GetAudioOptions(&options));
        wil::unique_bstr name;
        EXPECT_EQ(S_OK, editor->GetOpenedFileName(name.put()));
    }

    // Every string handed out is the caller's; once freed, nothing stays behind.
    TEST_F(WriteTagsTest, ManyQueriesWithTheStringsFreedDoNotGrowMemory)
    {
        ASSERT_EQ(S_OK, Open(m_editor.get(), FixturePath(L"tagged.wma")));
        for (int i = 0; i < 500; ++i)
            QueryAndFree(m_editor.get());

        // The measurement sees a leak of the same size: keep the strings of as many calls.
        const SIZE_T beforeLeak = PrivateBytes();
        std::vector<std::unique_ptr<MediaTagRecord>> kept;
        for (int i = 0; i < kCalls; ++i)
        {
            kept.push_back(std::make_unique<MediaTagRecord>());
            ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(kept.back().get()));
        }
        ASSERT_GT(PrivateBytes() - beforeLeak, kAllowedGrowth);
        kept.clear();

        for (int i = 0; i < 500; ++i)
            QueryAndFree(m_editor.get());
        const SIZE_T before = PrivateBytes();
        for (int i = 0; i < kCalls; ++i)
            QueryAndFree(m_editor.get());
        const SIZE_T after = PrivateBytes();
        EXPECT_LT(after > before ? after - before : 0, kAllowedGrowth);
    }
}

// Opening, classifying and closing files, driven through the DLL's class object.
#include "Bstr.h"
#include "Fixtures.h"
#include "QuillornLibrary.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
    const HRESULT kNoFileOpen = static_cast<HRESULT>(0x8007000A);
    const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

    class OpenFileTest : public QuillornTestSuite
    {
    protected:
        using QuillornTestSuite::Open;
        HRESULT Open(const std::wstring& path) { return Open(m_editor.get(), path); }

        ULONG IsOpened()
        {
            ULONG value = 7;
            EXPECT_EQ(S_OK, m_editor->IsFileOpened(&value));
            return value;
        }

        std::wstring OpenedName()
        {
            wil::unique_bstr name;
            EXPECT_EQ(S_OK, m_editor->GetOpenedFileName(name.put()));
            EXPECT_NE(nullptr, name.get()) << "an empty name is a zero-length BSTR, not null";
            return ToWString(name.get());
        }

    };

    TEST_F(OpenFileTest, FreshObjectIsClosed)
    {
        EXPECT_EQ(0u, IsOpened());
        EXPECT_EQ(L"", OpenedName());
        ULONG valid = 7, readOnly = 7;
        EXPECT_EQ(S_OK, m_editor->IsValidFile(&valid));
        EXPECT_EQ(S_OK, m_editor->IsReadOnlyFile(&readOnly));
        EXPECT_EQ(0u, valid);
        EXPECT_EQ(0u, readOnly);
        EXPECT_EQ(S_OK, m_editor->CloseFile());
        EXPECT_EQ(S_OK, m_editor->CloseFile());
    }

    TEST_F(OpenFileTest, ClosedQueriesReportNoFileOpenEvenForNullPointers)
    {
        TSimpleMediaTag tag{};
        TAudioOptions options{};
        TMediaTagFormatType tagFormat{};
        TMediaFileFormatType fileFormat{};
        EXPECT_EQ(kNoFileOpen, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(kNoFileOpen, m_editor->GetAudioOptions(&options));
        EXPECT_EQ(kNoFileOpen, m_editor->GetMediaTagFormatType(&tagFormat));
        EXPECT_EQ(kNoFileOpen, m_editor->GetMediaFileFormatType(&fileFormat));
        EXPECT_EQ(kNoFileOpen, m_editor->GetSimpleMediaTags(nullptr));
        EXPECT_EQ(kNoFileOpen, m_editor->GetAudioOptions(nullptr));
        EXPECT_EQ(kNoFileOpen, m_editor->GetMediaTagFormatType(nullptr));
        EXPECT_EQ(kNoFileOpen, m_editor->GetMediaFileFormatType(nullptr));
        EXPECT_EQ(nullptr, tag.strTitle) << "the caller's record is untouched";

        ASSERT_EQ(S_OK, Open(FixturePath(L"id3v2.mp3")));
        ASSERT_EQ(S_OK, m_editor->CloseFile());
        EXPECT_EQ(kNoFileOpen, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(kNoFileOpen, m_editor->GetMediaFileFormatType(&fileFormat));
    }

    TEST_F(OpenFileTest, NullOutPointersGivePointerErrors)
    {
        for (bool open : {false, true})
        {
            if (open)
                ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.flac")));
            EXPECT_EQ(E_POINTER, m_editor->GetOpenedFileName(nullptr));
            EXPECT_EQ(E_POINTER, m_editor->IsFileOpened(nullptr));
            EXPECT_EQ(E_POINTER, m_editor->IsValidFile(nullptr));
            EXPECT_EQ(E_POINTER, m_editor->IsReadOnlyFile(nullptr));
            EXPECT_EQ(open ? E_POINTER : kNoFileOpen, m_editor->GetSimpleMediaTags(nullptr));
        }
    }

    struct Classification
    {
        const wchar_t* file;
        TMediaFileFormatType fileFormat;
        TMediaTagFormatType tagFormat;
        const wchar_t* title;
        LONG year;
        LONG track;
        LONG length;
        LONG sampleRate;
        LONG channels;
    };

    void PrintTo(const Classification& row, std::ostream* os)
    {
        *os << std::string(row.file, row.file + wcslen(row.file));
    }

    class ClassificationTest : public OpenFileTest, public ::testing::WithParamInterface<Classification>
    {
    };

    // Every class TagLib 1.13 produces for the fixtures, with the values it reads.
    const Classification kClassifications[] = {
        {L"id3v2.mp3", MFILE_FORMAT_TYPE_MPEG, MTAG_FORMAT_TYPE_XIPH, L"Caf\u00e9 M\u00fcller \u2013 D\u00e9j\u00e0 vu", 2001, 1, 1, 22050, 1},
        {L"id3v1.mp3", MFILE_FORMAT_TYPE_MPEG, MTAG_FORMAT_TYPE_XIPH, L"ID3v1 Title", 1999, 2, 1, 22050, 1},
        {L"notags.mp3", MFILE_FORMAT_TYPE_MPEG, MTAG_FORMAT_TYPE_XIPH, L"", 0, 0, 1, 22050, 1},
        {L"tagged.flac", MFILE_FORMAT_TYPE_FLAC, MTAG_FORMAT_TYPE_XIPH, L"\u6771\u4eac\u306e\u591c", 2002, 3, 1, 16000, 1},
        {L"tagged.ogg", MFILE_FORMAT_TYPE_OGG, MTAG_FORMAT_TYPE_XIPH, L"\U0001F3B5 Clef \U0001D11E", 2003, 4, 1, 22050, 1},
        {L"oggflac.oga", MFILE_FORMAT_TYPE_OGG, MTAG_FORMAT_TYPE_XIPH, L"Ogg FLAC Title", 2004, 5, 1, 8000, 1},
        {L"tagged.spx", MFILE_FORMAT_TYPE_OGG, MTAG_FORMAT_TYPE_XIPH, L"Speex Title", 2005, 6, 1, 16000, 1},
        {L"tagged.opus", MFILE_FORMAT_TYPE_OGG, MTAG_FORMAT_TYPE_XIPH, L"Opus Title", 2006, 7, 1, 48000, 1},
        {L"tagged.m4a", MFILE_FORMAT_TYPE_MP4, MTAG_FORMAT_TYPE_MP4, L"Caf\u00e9 M\u00fcller \u2013 D\u00e9j\u00e0 vu (M4A)", 2007, 8, 1, 22050, 2},
        {L"tagged.wma", MFILE_FORMAT_TYPE_ASF, MTAG_FORMAT_TYPE_ASF, L"\u6771\u4eac\u306e\u591c (WMA)", 2008, 9, 1, 22050, 1},
        {L"tagged.wav", MFILE_FORMAT_TYPE_RIFF, MTAG_FORMAT_TYPE_ID3V2, L"WAV Title", 2009, 10, 1, 8000, 1},
        {L"tagged.aiff", MFILE_FORMAT_TYPE_RIFF, MTAG_FORMAT_TYPE_ID3V2, L"AIFF Title", 2010, 11, 1, 8000, 1},
        {L"tagged.wv", MFILE_FORMAT_TYPE_WAV, MTAG_FORMAT_TYPE_XIPH, L"WavPack Title", 2011, 12, 1, 11025, 1},
        {L"tagged.tta", MFILE_FORMAT_TYPE_TRUEAUDIO, MTAG_FORMAT_TYPE_XIPH, L"TrueAudio Title", 2012, 13, 1, 11025, 1},
        {L"tagged.mpc", MFILE_FORMAT_TYPE_MPC, MTAG_FORMAT_TYPE_XIPH, L"Musepack Title", 2013, 14, 1, 32000, 1},
        // TagLib takes any .mp3 for MPEG and finds no frame in these.
        {L"not-audio.mp3", MFILE_FORMAT_TYPE_MPEG, MTAG_FORMAT_TYPE_XIPH, L"", 0, 0, 0, 0, 0},
        {L"empty.mp3", MFILE_FORMAT_TYPE_MPEG, MTAG_FORMAT_TYPE_XIPH, L"", 0, 0, 0, 0, 0},
    };

    TEST_P(ClassificationTest, OpensAndClassifies)
    {
        const Classification& row = GetParam();
        const std::wstring path = FixturePath(row.file);
        ASSERT_EQ(S_OK, Open(path));
        ASSERT_EQ(1u, IsOpened());
        EXPECT_EQ(path, OpenedName());

        TMediaFileFormatType fileFormat{};
        TMediaTagFormatType tagFormat{};
        ASSERT_EQ(S_OK, m_editor->GetMediaFileFormatType(&fileFormat));
        ASSERT_EQ(S_OK, m_editor->GetMediaTagFormatType(&tagFormat));
        EXPECT_EQ(row.fileFormat, fileFormat);
        EXPECT_EQ(row.tagFormat, tagFormat);

        MediaTagRecord tag;
        ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(row.title, ToWString(tag.strTitle));
        EXPECT_EQ(row.year, tag.nYear);
        EXPECT_EQ(row.track, tag.nTrack);
        EXPECT_EQ(0, tag.nTag);
        if (row.tagFormat != MTAG_FORMAT_TYPE_ASF)
        {
            EXPECT_EQ(L"", ToWString(tag.strRating));
            EXPECT_EQ(L"", ToWString(tag.strCopyright));
        }

        TAudioOptions options{};
        ASSERT_EQ(S_OK, m_editor->GetAudioOptions(&options));
        EXPECT_EQ(row.length, options.nLength);
        EXPECT_EQ(row.sampleRate, options.nSampleRate);
        EXPECT_EQ(row.channels, options.nChannels);
        EXPECT_EQ(row.sampleRate != 0, options.nBitrate > 0);
        EXPECT_EQ(0, options.nTag);

        ULONG valid = 7;
        ASSERT_EQ(S_OK, m_editor->IsValidFile(&valid));
        EXPECT_EQ(1u, valid);
        EXPECT_EQ(S_OK, m_editor->CloseFile());
        EXPECT_EQ(0u, IsOpened());
        EXPECT_EQ(L"", OpenedName());
    }

    INSTANTIATE_TEST_SUITE_P(Fixtures, ClassificationTest, ::testing::ValuesIn(kClassifications),
                             [](const auto& info) {
                                 std::string name;
                                 for (const wchar_t* c = info.param.file; *c; ++c)
                                     name += iswalnum(*c) ? static_cast<char>(*c) : '_';
                                 return name;
                             });

    TEST_F(OpenFileTest, WmaCarriesRatingAndCopyrightAndUnicodeText)
    {
        ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.wma")));
        MediaTagRecord tag;
        ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(L"PG-13", ToWString(tag.strRating));
        EXPECT_EQ(L"\u00a9 2008 Fixture Records", ToWString(tag.strCopyright));
        EXPECT_EQ(L"\u6771\u4eac\u306e\u591c (WMA)", ToWString(tag.strTitle));
        EXPECT_EQ(L"\U0001F3B5 Clef \U0001D11E (WMA)", ToWString(tag.strAlbum));
    }

    TEST_F(OpenFileTest, AnExtensionTagLibDoesNotKnowLeavesNothingOpen)
    {
        ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.wma")));
        EXPECT_EQ(S_OK, Open(FixturePath(L"unknown.xyz")));
        EXPECT_EQ(0u, IsOpened());
        EXPECT_EQ(L"", OpenedName());
        TSimpleMediaTag tag{};
        EXPECT_EQ(kNoFileOpen, m_editor->GetSimpleMediaTags(&tag));
    }

    TEST_F(OpenFileTest, AFileTagLibFindsInvalidStaysOpenAndSaysSo)
    {
        ASSERT_EQ(S_OK, Open(FixturePath(L"truncated.flac")));
        EXPECT_EQ(1u, IsOpened());
        ULONG valid = 7;
        ASSERT_EQ(S_OK, m_editor->IsValidFile(&valid));
        EXPECT_EQ(0u, valid);
        TMediaFileFormatType fileFormat{};
        ASSERT_EQ(S_OK, m_editor->GetMediaFileFormatType(&fileFormat));
        EXPECT_EQ(MFILE_FORMAT_TYPE_FLAC, fileFormat);
    }

    TEST_F(OpenFileTest, MissingPathsAndFoldersAreNotFound)
    {
        for (const std::wstring& path : {FixturePath(L"no-such-file.mp3"), std::wstring(QUILLORN_FIXTURES_DIR),
                                          std::wstring(QUILLORN_FIXTURES_DIR) + L"\\", std::wstring(L"Z:\\no\\such\\dir\\a.flac")})
        {
            ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.flac")));
            EXPECT_EQ(kFileNotFound, Open(path)) << path.c_str();
            EXPECT_EQ(0u, IsOpened()) << "the open file was closed before the path was examined";
        }
    }

    TEST_F(OpenFileTest, PathIsTrimmedOfEveryListedWhitespaceCharacter)
    {
        const std::wstring path = FixturePath(L"tagged.ogg");
        for (wchar_t c : {L' ', L'\r', L'\t', L'\n', L'\v', L'\a', L'\b', L'\f'})
        {
            const std::wstring padded = std::wstring(2, c) + path + std::wstring(3, c);
            EXPECT_EQ(S_OK, Open(padded)) << static_cast<int>(c);
            EXPECT_EQ(1u, IsOpened()) << static_cast<int>(c);
            EXPECT_EQ(path, OpenedName()) << static_cast<int>(c);
        }
        // Every listed character together, on both sides.
        EXPECT_EQ(S_OK, Open(L" \r\t\n\v\a\b\f" + path + L"\f\b\a\v\n\t\r "));
        EXPECT_EQ(path, OpenedName());
    }

    TEST_F(OpenFileTest, BlankOrEmptyNamesAreInvalidAndCloseTheOpenFile)
    {
        for (const std::wstring& name : {std::wstring(L""), std::wstring(L"    "), std::wstring(L" \t\r\n\v\a\b\f")})
        {
            ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.flac")));
            EXPECT_EQ(E_INVALIDARG, Open(name));
            EXPECT_EQ(0u, IsOpened());
        }
    }

    TEST_F(OpenFileTest, NullNameIsInvalidAndKeepsTheOpenFile)
    {
        const std::wstring path = FixturePath(L"tagged.flac");
        ASSERT_EQ(S_OK, Open(path));
        EXPECT_EQ(E_INVALIDARG, m_editor->OpenFile(nullptr));
        EXPECT_EQ(1u, IsOpened());
        EXPECT_EQ(path, OpenedName());
        EXPECT_EQ(E_INVALIDARG, s_library->CreateEditor()->OpenFile(nullptr)) << "also on a closed object";
    }

    TEST_F(OpenFileTest, TextAfterAnEmbeddedNulIsIgnored)
    {
        const std::wstring path = FixturePath(L"tagged.flac");
        EXPECT_EQ(S_OK, Open(path + std::wstring(1, L'\0') + L"garbage"));
        EXPECT_EQ(path, OpenedName());
    }

    TEST_F(OpenFileTest, ReopeningReplacesEverythingOfTheFirstFile)
    {
        ASSERT_EQ(S_OK, Open(FixturePath(L"tagged.wma")));
        ASSERT_EQ(S_OK, m_editor->WriteTagTag(7));
        const std::wstring second = FixturePath(L"id3v1.mp3");
        ASSERT_EQ(S_OK, Open(second));
        EXPECT_EQ(second, OpenedName());

        MediaTagRecord tag;
        ASSERT_EQ(S_OK, m_editor->GetSimpleMediaTags(&tag));
        EXPECT_EQ(L"ID3v1 Title", ToWString(tag.strTitle));
        EXPECT_EQ(L"", ToWString(tag.strRating));
        EXPECT_EQ(L"", ToWString(tag.strCopyright));
        EXPECT_EQ(0, tag.nTag);
        TMediaFileFormatType fileFormat{};
        ASSERT_EQ(S_OK, m_editor->GetMediaFileFormatType(&fileFormat));
        EXPECT_EQ(MFILE_FORMAT_TYPE_MPEG, fileFormat);

        // The first file is no longer held open.
        const std::wstring copy = ScratchCopy(L"tagged.flac");
        ASSERT_EQ(S_OK, Open(copy));
        ASSERT_FALSE(::DeleteFileW(copy.c_str())) << "an open file cannot be deleted";
        ASSERT_EQ(S_OK, Open(second));
        EXPECT_TRUE(::DeleteFileW(copy.c_str())) << ::GetLastError();
    }

    TEST_F(OpenFileTest, UnicodeFileNames)
    {
        for (const std::wstring& name : {std::wstring(L"Caf\u00e9 M\u00fcller.flac"), std::wstring(L"\u6771\u4eac\u306e\u591c.ogg"),
                                          std::wstring(L"\U0001F3B5 Clef \U0001D11E.m4a")})
        {
            const std::wstring extension = name.substr(name.rfind(L'.'));
            const std::wstring fixture = extension == L".flac" ? L"tagged.flac" : extension == L".ogg" ? L"tagged.ogg" : L"tagged.m4a";
            const std::wstring path = ScratchCopy(fixture, name);
            ASSERT_EQ(S_OK, Open(path)) << name.c_str();
            EXPECT_EQ(1u, IsOpened());
            EXPECT_EQ(path, OpenedName());
            EXPECT_EQ(S_OK, m_editor->CloseFile());
        }
    }

    TEST_F(OpenFileTest, ReleasingAnObjectWithAnOpenFileClosesIt)
    {
        const std::wstring copy = ScratchCopy(L"tagged.flac");
        ASSERT_EQ(S_OK, Open(copy));
        ASSERT_FALSE(::DeleteFileW(copy.c_str())) << "an open file cannot be deleted";
        m_editor.reset();
        EXPECT_TRUE(::DeleteFileW(copy.c_str())) << "the file is still held: " << ::GetLastError();
    }
}

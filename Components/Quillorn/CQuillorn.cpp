#include "CQuillorn.h"
#include "FormatClassification.h"
#include "QuillornErrors.h"
#include "SaveGuard.h"
#include "StringConversion.h"

#include <wil/resource.h>
#include <wil/result.h>

#include <taglib/asftag.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <memory>
#include <new>
#include <sstream>

namespace
{
    const int kDescriptionVersion = 123;

    void FillSnapshot(tagedit::TSimpleMediaTag& snapshot, const TagLib::Tag& tag)
    {
        snapshot.strTitle = tag.title().toWString();
        snapshot.strArtist = tag.artist().toWString();
        snapshot.strAlbum = tag.album().toWString();
        snapshot.strComment = tag.comment().toWString();
        snapshot.strGenre = tag.genre().toWString();
        snapshot.strRating.clear();
        snapshot.strCopyright.clear();
        snapshot.nYear = static_cast<int32_t>(tag.year());
        snapshot.nTrack = static_cast<int32_t>(tag.track());
        snapshot.nTag = 0;
    }

    tagedit::TAudioOptions ReadAudioOptions(const TagLib::AudioProperties* properties)
    {
        tagedit::TAudioOptions options;
        if (properties)
        {
            options.nLength = properties->length();
            options.nBitrate = properties->bitrate();
            options.nSampleRate = properties->sampleRate();
            options.nChannels = properties->channels();
        }
        return options;
    }

    // Seven BSTRs made under one hold of the snapshot's lock: all or none.
    HRESULT CopyToRecord(const tagedit::TSimpleMediaTag& snapshot, TSimpleMediaTag& record)
    {
        const std::wstring tagedit::TSimpleMediaTag::*const texts[] = {
            &tagedit::TSimpleMediaTag::strTitle,   &tagedit::TSimpleMediaTag::strArtist,
            &tagedit::TSimpleMediaTag::strAlbum,   &tagedit::TSimpleMediaTag::strComment,
            &tagedit::TSimpleMediaTag::strGenre,   &tagedit::TSimpleMediaTag::strRating,
            &tagedit::TSimpleMediaTag::strCopyright,
        };
        BSTR TSimpleMediaTag::*const targets[] = {
            &TSimpleMediaTag::strTitle,   &TSimpleMediaTag::strArtist, &TSimpleMediaTag::strAlbum,
            &TSimpleMediaTag::strComment, &TSimpleMediaTag::strGenre,  &TSimpleMediaTag::strRating,
            &TSimpleMediaTag::strCopyright,
        };
        wil::unique_bstr strings[std::size(texts)];
        for (size_t i = 0; i < std::size(texts); ++i)
        {
            strings[i] = wil::make_bstr_nothrow((snapshot.*texts[i]).c_str());
            RETURN_HR_IF_NULL(E_OUTOFMEMORY, strings[i].get());
        }
        for (size_t i = 0; i < std::size(targets); ++i)
            record.*targets[i] = strings[i].release();
        record.nYear = snapshot.nYear;
        record.nTrack = snapshot.nTrack;
        record.nTag = snapshot.nTag;
        return S_OK;
    }
}

CQuillorn::~CQuillorn()
{
    // A host that forgets CloseFile must not leak the file object or its handle.
    DeleteFileObject();
}

// ---------------------------------------------------------------------------
// ISupportErrorInfo, IInformation

STDMETHODIMP CQuillorn::InterfaceSupportsErrorInfo(REFIID riid)
{
    return InlineIsEqualGUID(riid, IID_IInformation) ? S_OK : S_FALSE;
}

STDMETHODIMP CQuillorn::GetDescription(BSTR* pstrDescription)
{
    RETURN_HR_IF_NULL(E_POINTER, pstrDescription);
    try
    {
        std::wostringstream text;
        text << L"Version: " << kDescriptionVersion << L". " << L"COM object to edit media tags in audio files";
        BSTR description = ::SysAllocString(text.str().c_str());
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, description);
        *pstrDescription = description;
        return S_OK;
    }
    CATCH_RETURN()
}

// ---------------------------------------------------------------------------
// The open file

STDMETHODIMP CQuillorn::OpenFile(BSTR strFileName)
{
    RETURN_HR_IF_NULL(E_INVALIDARG, strFileName);
    if (m_bFileOpened.Get())
        CloseFile();

    try
    {
        std::wstring path = BstrToWString(strFileName);
        TrimWhitespace(path);
        RETURN_HR_IF(E_INVALIDARG, path.empty());

        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        RETURN_HR_IF(QUILLORN_E_FILE_NOT_FOUND,
                     attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY));

        return OpenTagLibFile(path);
    }
    catch (const std::bad_alloc&)
    {
        ResetSnapshot();
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        // A file TagLib cannot handle is not an error of OpenFile: no file is open.
        ResetSnapshot();
        return S_OK;
    }
}

HRESULT CQuillorn::OpenTagLibFile(const std::wstring& path)
{
    std::unique_ptr<TagLib::File> file(
        TagLib::FileRef::create(TagLib::FileName(path.c_str()), true, TagLib::AudioProperties::Average));
    if (!file)
        return S_OK;
    TagLib::Tag* tag = file->tag();
    if (!tag)
        return S_OK;

    // The file object is not shared yet, so it is used here without m_pFile's lock.
    m_SimpleMediaTag.Locked([&](tagedit::TSimpleMediaTag& snapshot) { FillSnapshot(snapshot, *tag); });
    m_AudioOptions.Set(ReadAudioOptions(file->audioProperties()));

    if (const auto fileFormat = ClassifyFileFormat(*file))
        m_FileFormatType.Set(*fileFormat);

    const TMediaTagFormatType tagFormat = ClassifyTagFormat(*tag);
    m_TagFormatType.Set(tagFormat);
    if (tagFormat == MTAG_FORMAT_TYPE_ASF)
    {
        const auto& asfTag = static_cast<const TagLib::ASF::Tag&>(*tag);
        m_SimpleMediaTag.Locked([&](tagedit::TSimpleMediaTag& snapshot) {
            snapshot.strCopyright = asfTag.copyright().toWString();
            snapshot.strRating = asfTag.rating().toWString();
        });
    }

    m_strFileName.Set(path);
    // An OpenFile racing on another thread may have stored its file object since
    // this call closed the previous one: that object is closed here, not leaked
    // with its handle (which would lock the file against every later open).
    m_pFile.Locked([&](TagLib::File*& stored) {
        delete stored;
        stored = file.release();
    });
    m_bFileOpened.Set(true);
    return S_OK;
}

// TagLib closes the file when its object is deleted.
void CQuillorn::DeleteFileObject()
{
    m_pFile.Locked([](TagLib::File*& file) {
        delete file;
        file = nullptr;
    });
}

// The holders OpenFile fills, back to their closed values (the name is stored
// last by OpenFile, so a failed open never set it).
void CQuillorn::ResetSnapshot()
{
    m_AudioOptions.Set(tagedit::TAudioOptions());
    m_SimpleMediaTag.Set(tagedit::TSimpleMediaTag());
    m_FileFormatType.Set(MFILE_FORMAT_TYPE_UNKNOWN);
    m_TagFormatType.Set(MTAG_FORMAT_TYPE_UNKNOWN);
}

STDMETHODIMP CQuillorn::CloseFile()
{
    if (!m_bFileOpened.Get())
        return S_OK;

    m_bFileOpened.Set(false);
    m_strFileName.Set(std::wstring());
    DeleteFileObject();
    ResetSnapshot();
    return S_OK;
}

STDMETHODIMP CQuillorn::GetOpenedFileName(BSTR* pstrFileName)
{
    RETURN_HR_IF_NULL(E_POINTER, pstrFileName);
    try
    {
        const std::wstring name = m_strFileName.Get();
        BSTR copy = ::SysAllocString(name.c_str());
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, copy);
        *pstrFileName = copy;
        return S_OK;
    }
    CATCH_RETURN()
}

STDMETHODIMP CQuillorn::IsFileOpened(ULONG* pnIsOpened)
{
    RETURN_HR_IF_NULL(E_POINTER, pnIsOpened);
    *pnIsOpened = m_bFileOpened.Get() ? 1 : 0;
    return S_OK;
}

template <typename Question>
HRESULT CQuillorn::AskOpenFile(ULONG* answer, Question question)
{
    RETURN_HR_IF_NULL(E_POINTER, answer);
    bool yes = false;
    if (m_bFileOpened.Get())
    {
        // Closed on another thread meanwhile: no file object, so the answer is no.
        yes = m_pFile.Locked([&](TagLib::File* file) { return file != nullptr && question(*file); });
    }
    *answer = yes ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CQuillorn::IsValidFile(ULONG* pnIsValid)
{
    return AskOpenFile(pnIsValid, [](const TagLib::File& file) { return file.isValid(); });
}

STDMETHODIMP CQuillorn::IsReadOnlyFile(ULONG* pnIsReadOnly)
{
    return AskOpenFile(pnIsReadOnly, [](const TagLib::File& file) { return file.readOnly(); });
}

// ---------------------------------------------------------------------------
// Queries: answered from the snapshot, never from the file

template <typename Holder, typename Result, typename Copy>
HRESULT CQuillorn::QuerySnapshot(Holder& holder, Result* result, Copy copy)
{
    RETURN_HR_IF(QUILLORN_E_NO_FILE_OPEN, !m_bFileOpened.Get());
    RETURN_HR_IF_NULL(E_POINTER, result);
    return holder.Locked([&](const auto& value) { return copy(value, *result); });
}

STDMETHODIMP CQuillorn::GetSimpleMediaTags(TSimpleMediaTag* pMediaTag)
{
    return QuerySnapshot(m_SimpleMediaTag, pMediaTag, CopyToRecord);
}

STDMETHODIMP CQuillorn::GetAudioOptions(TAudioOptions* pAudioOptions)
{
    return QuerySnapshot(m_AudioOptions, pAudioOptions, [](const tagedit::TAudioOptions& options, TAudioOptions& out) {
        out.nLength = options.nLength;
        out.nBitrate = options.nBitrate;
        out.nSampleRate = options.nSampleRate;
        out.nChannels = options.nChannels;
        out.nTag = options.nTag;
        return S_OK;
    });
}

STDMETHODIMP CQuillorn::GetMediaTagFormatType(TMediaTagFormatType* pTagFormatType)
{
    return QuerySnapshot(m_TagFormatType, pTagFormatType, [](TMediaTagFormatType value, TMediaTagFormatType& out) {
        out = value;
        return S_OK;
    });
}

STDMETHODIMP CQuillorn::GetMediaFileFormatType(TMediaFileFormatType* pFileFormatType)
{
    return QuerySnapshot(m_FileFormatType, pFileFormatType, [](TMediaFileFormatType value, TMediaFileFormatType& out) {
        out = value;
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
// Writes: one field, one save, the value TagLib reads back goes to the snapshot

template <typename Field>
HRESULT CQuillorn::WriteThrough(const Field& field, typename Field::Input input)
{
    RETURN_HR_IF(QUILLORN_E_NO_FILE_OPEN, !m_bFileOpened.Get());
    if constexpr (std::is_same_v<typename Field::Input, BSTR>)
        RETURN_HR_IF_NULL(E_INVALIDARG, input);

    typename Field::Value result{};
    bool written = false;
    const bool haveFile = m_pFile.Locked([&](TagLib::File* file) {
        if (!file)
            return false;
        try
        {
            field.set(*file->tag(), Field::FromInput(input));
            const bool saved = IsSafeToSave(*file) && file->save();
            if (saved)
                result = static_cast<typename Field::Value>(field.get(*file->tag()));
            written = saved;
        }
        catch (...)
        {
            written = false;
        }
        return true;
    });
    // Closed on another thread between the open check and the lock.
    RETURN_HR_IF(QUILLORN_E_NO_FILE_OPEN, !haveFile);
    RETURN_HR_IF(QUILLORN_E_WRITE_FAULT, !written);

    m_SimpleMediaTag.Locked([&](tagedit::TSimpleMediaTag& snapshot) { snapshot.*field.snapshot = std::move(result); });
    return S_OK;
}

HRESULT CQuillorn::WriteSnapshotText(std::wstring tagedit::TSimpleMediaTag::*field, BSTR strTag)
{
    RETURN_HR_IF(QUILLORN_E_NO_FILE_OPEN, !m_bFileOpened.Get());
    RETURN_HR_IF_NULL(E_INVALIDARG, strTag);

    std::wstring text;
    bool converted = false;
    // Converted under the file's lock so the value never overtakes a write in progress.
    m_pFile.Locked([&](TagLib::File*) {
        try
        {
            text = BstrToWString(strTag);
            converted = true;
        }
        catch (...)
        {
            converted = false;
        }
    });
    RETURN_HR_IF(QUILLORN_E_WRITE_FAULT, !converted);

    m_SimpleMediaTag.Locked([&](tagedit::TSimpleMediaTag& snapshot) { snapshot.*field = std::move(text); });
    return S_OK;
}

STDMETHODIMP CQuillorn::WriteTitleTag(BSTR strTag) { return WriteThrough(TagFields::Title, strTag); }
STDMETHODIMP CQuillorn::WriteArtistTag(BSTR strTag) { return WriteThrough(TagFields::Artist, strTag); }
STDMETHODIMP CQuillorn::WriteAlbumTag(BSTR strTag) { return WriteThrough(TagFields::Album, strTag); }
STDMETHODIMP CQuillorn::WriteCommentTag(BSTR strTag) { return WriteThrough(TagFields::Comment, strTag); }
STDMETHODIMP CQuillorn::WriteGenreTag(BSTR strTag) { return WriteThrough(TagFields::Genre, strTag); }
STDMETHODIMP CQuillorn::WriteYearTag(LONG nTag) { return WriteThrough(TagFields::Year, nTag); }
STDMETHODIMP CQuillorn::WriteTrackTag(LONG nTag) { return WriteThrough(TagFields::Track, nTag); }

STDMETHODIMP CQuillorn::WriteRatingTag(BSTR strTag)
{
    return WriteSnapshotText(&tagedit::TSimpleMediaTag::strRating, strTag);
}

STDMETHODIMP CQuillorn::WriteCopyrightTag(BSTR strTag)
{
    return WriteSnapshotText(&tagedit::TSimpleMediaTag::strCopyright, strTag);
}

STDMETHODIMP CQuillorn::WriteTagTag(LONG nTag)
{
    RETURN_HR_IF(QUILLORN_E_NO_FILE_OPEN, !m_bFileOpened.Get());
    m_SimpleMediaTag.Locked([&](tagedit::TSimpleMediaTag& snapshot) { snapshot.nTag = nTag; });
    return S_OK;
}

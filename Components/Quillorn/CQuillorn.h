// CQuillorn: one audio file at a time, its simple tags, audio properties and
// format classification, with single-field writes saved straight to the file.
#pragma once

#include "Quillorn_h.h"
#include "resource.h"
#include "TagRecords.h"
#include "TagFieldTable.h"
#include "_IQuillornEvents_CP.h"
#include "sysutil/SafeDataHolder.h"

#include <atlbase.h>
#include <atlcom.h>

#include <string>

namespace TagLib
{
    class File;
}

class ATL_NO_VTABLE CQuillorn :
    public CComObjectRootEx<CComSingleThreadModel>,
    public CComCoClass<CQuillorn, &CLSID_CQuillorn>,
    public ISupportErrorInfo,
    public IConnectionPointContainerImpl<CQuillorn>,
    public CProxy_IQuillornEvents<CQuillorn>,
    public IDispatchImpl<IInformation, &IID_IInformation, &LIBID_QuillornLib, 1, 0>,
    public IDispatchImpl<ITagsEditor, &IID_ITagsEditor, &LIBID_QuillornLib, 1, 0>
{
public:
    CQuillorn() = default;
    ~CQuillorn();

    DECLARE_REGISTRY_RESOURCEID(IDR_CQUILLORN)

    BEGIN_COM_MAP(CQuillorn)
        COM_INTERFACE_ENTRY(IInformation)
        COM_INTERFACE_ENTRY(ITagsEditor)
        COM_INTERFACE_ENTRY2(IDispatch, IInformation)
        COM_INTERFACE_ENTRY(ISupportErrorInfo)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

    BEGIN_CONNECTION_POINT_MAP(CQuillorn)
        CONNECTION_POINT_ENTRY(DIID__IQuillornEvents)
    END_CONNECTION_POINT_MAP()

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // IInformation
    STDMETHOD(GetDescription)(BSTR* pstrDescription) override;

    // ITagsEditor: the open file
    STDMETHOD(OpenFile)(BSTR strFileName) override;
    STDMETHOD(CloseFile)() override;
    STDMETHOD(GetOpenedFileName)(BSTR* pstrFileName) override;
    STDMETHOD(IsFileOpened)(ULONG* pnIsOpened) override;
    STDMETHOD(IsValidFile)(ULONG* pnIsValid) override;
    STDMETHOD(IsReadOnlyFile)(ULONG* pnIsReadOnly) override;

    // ITagsEditor: queries
    STDMETHOD(GetSimpleMediaTags)(TSimpleMediaTag* pMediaTag) override;
    STDMETHOD(GetMediaTagFormatType)(TMediaTagFormatType* pTagFormatType) override;
    STDMETHOD(GetAudioOptions)(TAudioOptions* pAudioOptions) override;
    STDMETHOD(GetMediaFileFormatType)(TMediaFileFormatType* pFileFormatType) override;

    // ITagsEditor: writes
    STDMETHOD(WriteTitleTag)(BSTR strTag) override;
    STDMETHOD(WriteArtistTag)(BSTR strTag) override;
    STDMETHOD(WriteAlbumTag)(BSTR strTag) override;
    STDMETHOD(WriteCommentTag)(BSTR strTag) override;
    STDMETHOD(WriteGenreTag)(BSTR strTag) override;
    STDMETHOD(WriteRatingTag)(BSTR strTag) override;
    STDMETHOD(WriteCopyrightTag)(BSTR strTag) override;
    STDMETHOD(WriteYearTag)(LONG nTag) override;
    STDMETHOD(WriteTrackTag)(LONG nTag) override;
    STDMETHOD(WriteTagTag)(LONG nTag) override;

private:
    HRESULT OpenTagLibFile(const std::wstring& path);
    void ResetSnapshot();
    void DeleteFileObject();
    template <typename Question>
    HRESULT AskOpenFile(ULONG* answer, Question question);
    template <typename Holder, typename Result, typename Copy>
    HRESULT QuerySnapshot(Holder& holder, Result* result, Copy copy);
    template <typename Field>
    HRESULT WriteThrough(const Field& field, typename Field::Input input);
    HRESULT WriteSnapshotText(std::wstring tagedit::TSimpleMediaTag::*field, BSTR strTag);

    sysutil::CGuardedValue<bool> m_bFileOpened;
    sysutil::CGuardedValue<std::wstring> m_strFileName;
    sysutil::CSafeDataHolder<TagLib::File*> m_pFile;
    sysutil::CSafeDataHolder<tagedit::TAudioOptions> m_AudioOptions;
    sysutil::CSafeDataHolder<tagedit::TSimpleMediaTag> m_SimpleMediaTag;
    sysutil::CGuardedValue<TMediaFileFormatType> m_FileFormatType{MFILE_FORMAT_TYPE_UNKNOWN};
    sysutil::CGuardedValue<TMediaTagFormatType> m_TagFormatType{MTAG_FORMAT_TYPE_UNKNOWN};
};

OBJECT_ENTRY_AUTO(CLSID_CQuillorn, CQuillorn)

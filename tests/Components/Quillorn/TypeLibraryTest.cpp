// The contract as hosts see it: the type library embedded in Quillorn.dll (and
// the copy written beside it) must describe exactly the fixed interfaces.
#include "Quillorn_h.h"
#include "TestPaths.h"

#include <wil/resource.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
    struct Param
    {
        const char* name;
        const wchar_t* path;
    };

    std::wstring Guid(REFGUID guid)
    {
        wchar_t text[40] = {};
        StringFromGUID2(guid, text, 40);
        return text;
    }

    std::wstring Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL)
    {
        wil::unique_bstr name;
        EXPECT_EQ(S_OK, info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr));
        return name ? name.get() : L"";
    }

    std::wstring HelpString(ITypeInfo* info)
    {
        wil::unique_bstr help;
        EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, nullptr, help.put(), nullptr, nullptr));
        return help ? help.get() : L"";
    }

    // Releases the attributes a type info handed out.
    class TypeAttr
    {
    public:
        explicit TypeAttr(ITypeInfo* info) : m_info(info) { EXPECT_EQ(S_OK, info->GetTypeAttr(&m_attr)); }
        ~TypeAttr()
        {
            if (m_attr)
                m_info->ReleaseTypeAttr(m_attr);
        }
        const TYPEATTR* operator->() const { return m_attr; }

    private:
        ITypeInfo* m_info;
        TYPEATTR* m_attr = nullptr;
    };

    class TypeLibraryTest : public ::testing::TestWithParam<Param>
    {
    protected:
        void SetUp() override
        {
            ASSERT_EQ(S_OK, LoadTypeLibEx(GetParam().path, REGKIND_NONE, m_lib.put()));
        }

        wil::com_ptr<ITypeInfo> Info(REFGUID guid)
        {
            wil::com_ptr<ITypeInfo> info;
            EXPECT_EQ(S_OK, m_lib->GetTypeInfoOfGuid(guid, info.put())) << Guid(guid).c_str();
            return info;
        }

        // The vtable half of a dual interface.
        wil::com_ptr<ITypeInfo> VtableInfo(REFGUID guid)
        {
            auto dispatch = Info(guid);
            HREFTYPE ref = 0;
            EXPECT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref));
            wil::com_ptr<ITypeInfo> vtable;
            EXPECT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, vtable.put()));
            return vtable;
        }

        wil::com_ptr<ITypeLib> m_lib;
    };

    TEST_P(TypeLibraryTest, LibraryIdentityAndMemberOrder)
    {
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(S_OK, m_lib->GetLibAttr(&attr));
        EXPECT_EQ(Guid(LIBID_QuillornLib), Guid(attr->guid));
        EXPECT_EQ(1, attr->wMajorVerNum);
        EXPECT_EQ(0, attr->wMinorVerNum);
        EXPECT_EQ(0u, attr->lcid);
        m_lib->ReleaseTLibAttr(attr);

        wil::unique_bstr name, help;
        ASSERT_EQ(S_OK, m_lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
        EXPECT_STREQ(L"QuillornLib", name.get());
        EXPECT_EQ(0u, SysStringLen(help.get()));

        const std::vector<std::pair<std::wstring, TYPEKIND>> expected = {
            {L"_IQuillornEvents", TKIND_DISPATCH}, {L"CQuillorn", TKIND_COCLASS},
            {L"IInformation", TKIND_DISPATCH},     {L"ITagsEditor", TKIND_DISPATCH},
            {L"TSimpleMediaTag", TKIND_RECORD},    {L"TMediaTagFormatType", TKIND_ENUM},
            {L"TAudioOptions", TKIND_RECORD},      {L"TMediaFileFormatType", TKIND_ENUM},
        };
        ASSERT_EQ(expected.size(), m_lib->GetTypeInfoCount());
        for (UINT i = 0; i < expected.size(); ++i)
        {
            wil::unique_bstr memberName;
            EXPECT_EQ(S_OK, m_lib->GetDocumentation(i, memberName.put(), nullptr, nullptr, nullptr));
            EXPECT_EQ(expected[i].first, memberName.get()) << "member " << i;
            TYPEKIND kind{};
            EXPECT_EQ(S_OK, m_lib->GetTypeInfoType(i, &kind));
            EXPECT_EQ(expected[i].second, kind) << "member " << i;
        }
    }

    TEST_P(TypeLibraryTest, CoclassImplementsInOrderWithDefaults)
    {
        auto coclass = Info(CLSID_CQuillorn);
        TypeAttr attr(coclass.get());
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
        EXPECT_EQ(L"", HelpString(coclass.get()));

        const struct
        {
            GUID iid;
            int flags;
        } expected[] = {
            {IID_IInformation, IMPLTYPEFLAG_FDEFAULT},
            {IID_ITagsEditor, 0},
            {DIID__IQuillornEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
        };
        ASSERT_EQ(3, attr->cImplTypes);
        for (UINT i = 0; i < 3; ++i)
        {
            HREFTYPE ref = 0;
            ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &ref));
            wil::com_ptr<ITypeInfo> implemented;
            ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, implemented.put()));
            EXPECT_EQ(Guid(expected[i].iid), Guid(TypeAttr(implemented.get())->guid));
            INT flags = 0;
            EXPECT_EQ(S_OK, coclass->GetImplTypeFlags(i, &flags));
            EXPECT_EQ(expected[i].flags, flags) << "implemented type " << i;
        }
    }

    TEST_P(TypeLibraryTest, EventInterfaceIsAnEmptyDispinterface)
    {
        auto events = Info(DIID__IQuillornEvents);
        TypeAttr attr(events.get());
        EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
        EXPECT_EQ(0, attr->cFuncs);
        EXPECT_EQ(0, attr->cVars);
        EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    }

    struct Method
    {
        const wchar_t* name;
        MEMBERID dispid;
        std::vector<std::wstring> params;
        VARTYPE type; // of the one parameter; VT_PTR types name their target
        bool out;
    };

    void ExpectDualInterface(ITypeInfo* dispatch, ITypeInfo* vtable, const std::vector<Method>& methods)
    {
        // The dispatch half callers bind to by name; the vtable half carries the
        // automation promise of the declaration.
        const WORD dispatchFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
        EXPECT_EQ(dispatchFlags, TypeAttr(dispatch)->wTypeFlags & (dispatchFlags | TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED));

        const WORD vtableFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
        TypeAttr attr(vtable);
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_EQ(vtableFlags, attr->wTypeFlags & (vtableFlags | TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED));
        // Three IUnknown and four IDispatch slots come first.
        EXPECT_EQ(static_cast<WORD>((7 + methods.size()) * sizeof(void*)), attr->cbSizeVft);

        // The base is stdole2's IDispatch, whose base is IUnknown.
        ASSERT_EQ(1, attr->cImplTypes);
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, vtable->GetRefTypeOfImplType(0, &ref));
        wil::com_ptr<ITypeInfo> base;
        ASSERT_EQ(S_OK, vtable->GetRefTypeInfo(ref, base.put()));
        EXPECT_EQ(Guid(IID_IDispatch), Guid(TypeAttr(base.get())->guid));
        EXPECT_EQ(L"IDispatch", Name(base.get()));

        ASSERT_EQ(methods.size(), static_cast<size_t>(attr->cFuncs));
        for (UINT i = 0; i < methods.size(); ++i)
        {
            const Method& expected = methods[i];
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, vtable->GetFuncDesc(i, &func));
            EXPECT_EQ(expected.dispid, func->memid) << expected.name;
            EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), func->oVft) << expected.name;
            EXPECT_EQ(FUNC_PUREVIRTUAL, func->funckind) << expected.name;
            EXPECT_EQ(INVOKE_FUNC, func->invkind) << expected.name;
            EXPECT_EQ(CC_STDCALL, func->callconv) << expected.name;
            EXPECT_EQ(0, func->wFuncFlags) << expected.name;
            EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt) << expected.name;

            BSTR names[4] = {};
            UINT count = 0;
            ASSERT_EQ(S_OK, vtable->GetNames(func->memid, names, 4, &count));
            std::vector<std::wstring> actual;
            for (UINT n = 0; n < count; ++n)
            {
                actual.emplace_back(names[n]);
                SysFreeString(names[n]);
            }
            ASSERT_FALSE(actual.empty());
            EXPECT_EQ(expected.name, actual.front());
            EXPECT_EQ(expected.params, std::vector<std::wstring>(actual.begin() + 1, actual.end())) << expected.name;

            ASSERT_EQ(static_cast<SHORT>(expected.params.size()), func->cParams) << expected.name;
            if (func->cParams == 1)
            {
                const ELEMDESC& param = func->lprgelemdescParam[0];
                const USHORT flags = param.paramdesc.wParamFlags;
                if (expected.out)
                {
                    EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, flags) << expected.name;
                    ASSERT_EQ(VT_PTR, param.tdesc.vt) << expected.name;
                    const TYPEDESC* target = param.tdesc.lptdesc;
                    if (expected.type == VT_USERDEFINED)
                        EXPECT_EQ(VT_USERDEFINED, target->vt) << expected.name;
                    else
                        EXPECT_EQ(expected.type, target->vt) << expected.name;
                }
                else
                {
                    EXPECT_EQ(PARAMFLAG_FIN, flags) << expected.name;
                    EXPECT_EQ(expected.type, param.tdesc.vt) << expected.name;
                }
            }
            vtable->ReleaseFuncDesc(func);
        }
    }

    TEST_P(TypeLibraryTest, InformationInterface)
    {
        ExpectDualInterface(Info(IID_IInformation).get(), VtableInfo(IID_IInformation).get(),
                            {{L"GetDescription", 1, {L"pstrDescription"}, VT_BSTR, true}});
    }

    TEST_P(TypeLibraryTest, TagsEditorInterface)
    {
        ExpectDualInterface(Info(IID_ITagsEditor).get(), VtableInfo(IID_ITagsEditor).get(),
                            {
                                {L"OpenFile", 1, {L"strFileName"}, VT_BSTR, false},
                                {L"CloseFile", 2, {}, VT_EMPTY, false},
                                {L"GetOpenedFileName", 3, {L"pstrFileName"}, VT_BSTR, true},
                                {L"IsFileOpened", 4, {L"pnIsOpened"}, VT_UI4, true},
                                {L"IsValidFile", 5, {L"pnIsValid"}, VT_UI4, true},
                                {L"IsReadOnlyFile", 6, {L"pnIsReadOnly"}, VT_UI4, true},
                                {L"GetSimpleMediaTags", 20, {L"pMediaTag"}, VT_USERDEFINED, true},
                                {L"GetMediaTagFormatType", 21, {L"pTagFormatType"}, VT_USERDEFINED, true},
                                {L"GetAudioOptions", 22, {L"pAudioOptions"}, VT_USERDEFINED, true},
                                {L"GetMediaFileFormatType", 23, {L"pFileFormatType"}, VT_USERDEFINED, true},
                                {L"WriteTitleTag", 40, {L"strTag"}, VT_BSTR, false},
                                {L"WriteArtistTag", 41, {L"strTag"}, VT_BSTR, false},
                                {L"WriteAlbumTag", 42, {L"strTag"}, VT_BSTR, false},
                                {L"WriteCommentTag", 43, {L"strTag"}, VT_BSTR, false},
                                {L"WriteGenreTag", 44, {L"strTag"}, VT_BSTR, false},
                                {L"WriteRatingTag", 45, {L"strTag"}, VT_BSTR, false},
                                {L"WriteCopyrightTag", 46, {L"strTag"}, VT_BSTR, false},
                                {L"WriteYearTag", 47, {L"nTag"}, VT_I4, false},
                                {L"WriteTrackTag", 48, {L"nTag"}, VT_I4, false},
                                {L"WriteTagTag", 49, {L"nTag"}, VT_I4, false},
                            });
    }

    TEST_P(TypeLibraryTest, RecordParametersNameTheirRecords)
    {
        auto vtable = VtableInfo(IID_ITagsEditor);
        // GetSimpleMediaTags, GetMediaTagFormatType, GetAudioOptions, GetMediaFileFormatType
        const UINT methods[] = {6, 7, 8, 9};
        const GUID types[] = {
            {0x978CF4CF, 0x1D49, 0x4BF5, {0x8E, 0xC3, 0xEA, 0x8B, 0x69, 0x13, 0x82, 0x8F}},
            {0x352283ED, 0x25BA, 0x49D7, {0x8D, 0x7F, 0x54, 0xB6, 0xFB, 0xF9, 0xB5, 0x2E}},
            {0x3ECCC74A, 0xA7C8, 0x497D, {0x87, 0x06, 0x3A, 0x5E, 0xC1, 0x9D, 0xB2, 0x99}},
            {0x6E054711, 0x52A5, 0x4F5B, {0xA8, 0x70, 0x24, 0x95, 0x98, 0x97, 0x8C, 0xA8}},
        };
        for (size_t i = 0; i < std::size(methods); ++i)
        {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, vtable->GetFuncDesc(methods[i], &func));
            const TYPEDESC* target = func->lprgelemdescParam[0].tdesc.lptdesc;
            wil::com_ptr<ITypeInfo> record;
            ASSERT_EQ(S_OK, vtable->GetRefTypeInfo(target->hreftype, record.put()));
            EXPECT_EQ(Guid(types[i]), Guid(TypeAttr(record.get())->guid));
            vtable->ReleaseFuncDesc(func);
        }
    }

    struct Field
    {
        const wchar_t* name;
        ULONG offset;
        VARTYPE type;
    };

    void ExpectRecord(ITypeInfo* info, const wchar_t* help, ULONG size, const std::vector<Field>& fields)
    {
        TypeAttr attr(info);
        EXPECT_EQ(TKIND_RECORD, attr->typekind);
        EXPECT_EQ(help, HelpString(info));
        EXPECT_EQ(size, attr->cbSizeInstance);
        EXPECT_EQ(4, attr->cbAlignment);
        ASSERT_EQ(fields.size(), static_cast<size_t>(attr->cVars));
        for (UINT i = 0; i < fields.size(); ++i)
        {
            VARDESC* var = nullptr;
            ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
            EXPECT_EQ(VAR_PERINSTANCE, var->varkind);
            EXPECT_EQ(fields[i].offset, var->oInst) << fields[i].name;
            EXPECT_EQ(fields[i].type, var->elemdescVar.tdesc.vt) << fields[i].name;
            EXPECT_EQ(fields[i].name, Name(info, var->memid));
            info->ReleaseVarDesc(var);
        }
    }

    TEST_P(TypeLibraryTest, SimpleMediaTagRecord)
    {
        const GUID guid = {0x978CF4CF, 0x1D49, 0x4BF5, {0x8E, 0xC3, 0xEA, 0x8B, 0x69, 0x13, 0x82, 0x8F}};
        ExpectRecord(Info(guid).get(), L"Audio Tag Properties", 40,
                     {{L"strTitle", 0, VT_BSTR},   {L"strArtist", 4, VT_BSTR},     {L"strAlbum", 8, VT_BSTR},
                      {L"strComment", 12, VT_BSTR}, {L"strGenre", 16, VT_BSTR},    {L"strRating", 20, VT_BSTR},
                      {L"strCopyright", 24, VT_BSTR}, {L"nYear", 28, VT_I4},       {L"nTrack", 32, VT_I4},
                      {L"nTag", 36, VT_I4}});
        static_assert(sizeof(TSimpleMediaTag) == 40, "record layout is fixed");
    }

    TEST_P(TypeLibraryTest, AudioOptionsRecord)
    {
        const GUID guid = {0x3ECCC74A, 0xA7C8, 0x497D, {0x87, 0x06, 0x3A, 0x5E, 0xC1, 0x9D, 0xB2, 0x99}};
        ExpectRecord(Info(guid).get(), L"Audio Options", 20,
                     {{L"nLength", 0, VT_I4}, {L"nBitrate", 4, VT_I4}, {L"nSampleRate", 8, VT_I4},
                      {L"nChannels", 12, VT_I4}, {L"nTag", 16, VT_I4}});
        static_assert(sizeof(TAudioOptions) == 20, "record layout is fixed");
    }

    void ExpectEnum(ITypeInfo* info, const wchar_t* help, const std::vector<std::wstring>& names)
    {
        TypeAttr attr(info);
        EXPECT_EQ(TKIND_ENUM, attr->typekind);
        EXPECT_EQ(help, HelpString(info));
        EXPECT_EQ(4u, attr->cbSizeInstance);
        ASSERT_EQ(names.size(), static_cast<size_t>(attr->cVars));
        for (UINT i = 0; i < names.size(); ++i)
        {
            VARDESC* var = nullptr;
            ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
            EXPECT_EQ(VAR_CONST, var->varkind);
            EXPECT_EQ(names[i], Name(info, var->memid));
            VARIANT value;
            VariantInit(&value);
            ASSERT_EQ(S_OK, VariantChangeType(&value, var->lpvarValue, 0, VT_I4));
            EXPECT_EQ(static_cast<LONG>(i), V_I4(&value)) << names[i].c_str();
            info->ReleaseVarDesc(var);
        }
    }

    TEST_P(TypeLibraryTest, MediaTagFormatEnumeration)
    {
        const GUID guid = {0x352283ED, 0x25BA, 0x49D7, {0x8D, 0x7F, 0x54, 0xB6, 0xFB, 0xF9, 0xB5, 0x2E}};
        ExpectEnum(Info(guid).get(), L"Media Tag Formats",
                   {L"MTAG_FORMAT_TYPE_UNKNOWN", L"MTAG_FORMAT_TYPE_APE", L"MTAG_FORMAT_TYPE_ASF",
                    L"MTAG_FORMAT_TYPE_ID3V1", L"MTAG_FORMAT_TYPE_ID3V2", L"MTAG_FORMAT_TYPE_MP4",
                    L"MTAG_FORMAT_TYPE_XIPH"});
        static_assert(MTAG_FORMAT_TYPE_XIPH == 6, "values are fixed");
    }

    TEST_P(TypeLibraryTest, MediaFileFormatEnumeration)
    {
        const GUID guid = {0x6E054711, 0x52A5, 0x4F5B, {0xA8, 0x70, 0x24, 0x95, 0x98, 0x97, 0x8C, 0xA8}};
        ExpectEnum(Info(guid).get(), L"Media File Formats",
                   {L"MFILE_FORMAT_TYPE_UNKNOWN", L"MFILE_FORMAT_TYPE_MPEG", L"MFILE_FORMAT_TYPE_WAV",
                    L"MFILE_FORMAT_TYPE_APE", L"MFILE_FORMAT_TYPE_ASF", L"MFILE_FORMAT_TYPE_FLAC",
                    L"MFILE_FORMAT_TYPE_MP4", L"MFILE_FORMAT_TYPE_MPC", L"MFILE_FORMAT_TYPE_TRUEAUDIO",
                    L"MFILE_FORMAT_TYPE_OGG", L"MFILE_FORMAT_TYPE_OGG_FLAC", L"MFILE_FORMAT_TYPE_OGG_SPEEX",
                    L"MFILE_FORMAT_TYPE_OGG_VORBIS", L"MFILE_FORMAT_TYPE_RIFF", L"MFILE_FORMAT_TYPE_RIFF_AIFF",
                    L"MFILE_FORMAT_TYPE_RIFF_WAV"});
        static_assert(MFILE_FORMAT_TYPE_RIFF_WAV == 15, "values are fixed");
    }

    INSTANTIATE_TEST_SUITE_P(Embedded, TypeLibraryTest, ::testing::Values(Param{"Dll", QUILLORN_DLL_PATH}),
                             [](const auto& info) { return std::string(info.param.name); });
    INSTANTIATE_TEST_SUITE_P(File, TypeLibraryTest, ::testing::Values(Param{"Tlb", QUILLORN_TLB_PATH}),
                             [](const auto& info) { return std::string(info.param.name); });
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

// Late binding: IDispatch of both dual interfaces over the registered type
// library, and a real script host (Wine's cscript running VBScript).
#include "ServerDll.h"

#include "Fixtures.h"

using namespace comtest;

namespace
{
    const wchar_t kDescription[] = L"Version: 123. COM object to edit media tags in audio files";
    const HRESULT kNoFileOpen = static_cast<HRESULT>(0x8007000AL);

    // The object's default IDispatch (IInformation's) or ITagsEditor's.
    wil::com_ptr<IDispatch> Dispatch(IUnknown* object, REFIID iid)
    {
        wil::com_ptr<IUnknown> p;
        EXPECT_EQ(S_OK, object->QueryInterface(iid, p.put_void()));
        return wil::com_ptr<IDispatch>(static_cast<IDispatch*>(p.get()));
    }

    struct Call
    {
        HRESULT hr = E_FAIL;
        VARIANT result;
        EXCEPINFO exception{};
        Call() { ::VariantInit(&result); }
        ~Call()
        {
            ::VariantClear(&result);
            ::SysFreeString(exception.bstrSource);
            ::SysFreeString(exception.bstrDescription);
            ::SysFreeString(exception.bstrHelpFile);
        }
    };

    void Invoke(IDispatch* dispatch, DISPID id, std::vector<VARIANT> arguments, Call& call)
    {
        DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        UINT argError = 0;
        call.hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                   &call.result, &call.exception, &argError);
    }

    // A method's own failure, as ITypeInfo::Invoke reports it.
    HRESULT MethodFailure(const Call& call) { return call.hr == DISP_E_EXCEPTION ? call.exception.scode : call.hr; }

    const struct
    {
        const char* name;
        const IID* iid;
    } kDualInterfaces[] = {{"IInformation", &IID_IInformation}, {"ITagsEditor", &IID_ITagsEditor}};
}

TEST(LateBinding, EachDualInterfaceHasOneTypeInfoSharedByAllObjects)
{
    auto first = CreateQuillorn();
    auto second = CreateQuillorn();
    ASSERT_TRUE(first && second);
    for (const auto& itf : kDualInterfaces)
    {
        auto dispatch = Dispatch(first.get(), *itf.iid);
        UINT count = 0;
        EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count)) << itf.name;
        EXPECT_EQ(1u, count) << itf.name;
        EXPECT_EQ(E_POINTER, dispatch->GetTypeInfoCount(nullptr)) << itf.name;

        wil::com_ptr<ITypeInfo> bad;
        EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, bad.put())) << itf.name;

        wil::com_ptr<ITypeInfo> info, other;
        ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) << itf.name;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_TRUE(::IsEqualGUID(*itf.iid, attr->guid)) << itf.name;
        info->ReleaseTypeAttr(attr);

        ASSERT_EQ(S_OK, Dispatch(second.get(), *itf.iid)->GetTypeInfo(0, LOCALE_USER_DEFAULT, other.put()));
        EXPECT_EQ(info.get(), other.get()) << itf.name << ": one copy per class";
    }
}

TEST(LateBinding, NamesResolveToTheDispidsOfTheirInterface)
{
    const DISPID kNone = DISPID_UNKNOWN;
    const struct
    {
        const IID* iid;
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } cases[] = {
        {&IID_IDispatch, L"GetDescription", S_OK, 1},
        {&IID_IDispatch, L"OpenFile", DISP_E_UNKNOWNNAME, kNone},
        {&IID_IDispatch, L"WriteTagTag", DISP_E_UNKNOWNNAME, kNone},
        {&IID_ITagsEditor, L"WriteTagTag", S_OK, 49},
        {&IID_ITagsEditor, L"GetSimpleMediaTags", S_OK, 20},
        {&IID_ITagsEditor, L"OpenFile", S_OK, 1},
        {&IID_ITagsEditor, L"writetagtag", S_OK, 49},
        {&IID_ITagsEditor, L"GetDescription", DISP_E_UNKNOWNNAME, kNone},
    };
    auto object = CreateQuillorn();
    ASSERT_TRUE(object);
    for (const auto& c : cases)
    {
        auto dispatch = Dispatch(object.get(), *c.iid);
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 12345;
        EXPECT_EQ(c.hr, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) << Narrow(c.name);
        EXPECT_EQ(c.id, id) << Narrow(c.name);
    }
}

TEST(LateBinding, InvokeLandsInTheVtableMethods)
{
    auto object = CreateQuillorn();
    ASSERT_TRUE(object);
    auto information = Dispatch(object.get(), IID_IDispatch);
    auto editor = Dispatch(object.get(), IID_ITagsEditor);

    Call description;
    Invoke(information.get(), 1, {}, description);
    ASSERT_EQ(S_OK, description.hr);
    ASSERT_EQ(VT_BSTR, V_VT(&description.result));
    EXPECT_EQ(kDescription, ToWString(V_BSTR(&description.result)));

    Call closed;
    Invoke(editor.get(), 4 /* IsFileOpened */, {}, closed);
    ASSERT_EQ(S_OK, closed.hr);
    EXPECT_EQ(VT_UI4, V_VT(&closed.result));
    EXPECT_EQ(0u, V_UI4(&closed.result));

    VARIANT tag;
    ::VariantInit(&tag);
    V_VT(&tag) = VT_I4;
    V_I4(&tag) = 5;
    Call write;
    Invoke(editor.get(), 49 /* WriteTagTag */, {tag}, write);
    EXPECT_EQ(kNoFileOpen, MethodFailure(write)) << std::hex << write.hr;

    // Arguments travel too: open a file by name, then ask for it.
    const std::wstring path = ScratchCopy(L"id3v2.mp3");
    wil::unique_bstr pathBstr(::SysAllocString(path.c_str()));
    VARIANT name;
    ::VariantInit(&name);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = pathBstr.get();
    Call open;
    Invoke(editor.get(), 1 /* OpenFile */, {name}, open);
    ASSERT_EQ(S_OK, open.hr);
    Call opened;
    Invoke(editor.get(), 3 /* GetOpenedFileName */, {}, opened);
    ASSERT_EQ(S_OK, opened.hr);
    ASSERT_EQ(VT_BSTR, V_VT(&opened.result));
    EXPECT_EQ(path, ToWString(V_BSTR(&opened.result)));
    Call isOpen;
    Invoke(editor.get(), 4, {}, isOpen);
    EXPECT_EQ(1u, V_UI4(&isOpen.result));
}

TEST(LateBinding, VBScriptCallsTheDefaultDispatchByName)
{
    std::string output;
    const DWORD exitCode =
        RunProcess(Quote(SystemTool(L"cscript.exe")) + L" //nologo " + Quote(QUILLORN_COM_TEST_SCRIPT), &output);
    EXPECT_EQ(0u, exitCode) << output;
    // GetDescription's text through IDispatch, then the script error for a
    // method the default IDispatch does not have (438 = 0x1B6, "Object
    // doesn't support this property or method").
    EXPECT_EQ("Version: 123. COM object to edit media tags in audio files\r\n"
              "OpenFile error 1B6\r\n",
              output);
}

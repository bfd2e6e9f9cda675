// Loads Quillorn.dll the way COM would (LoadLibrary + DllGetClassObject) without
// needing a registration, and hands out fresh objects.
#pragma once

#include "Quillorn_h.h"
#include "TestPaths.h"

#include <wil/resource.h>

#include <gtest/gtest.h>

class QuillornLibrary
{
public:
    QuillornLibrary()
    {
        m_module.reset(::LoadLibraryW(QUILLORN_DLL_PATH));
        if (!m_module)
            return;
        auto getClassObject =
            reinterpret_cast<LPFNGETCLASSOBJECT>(::GetProcAddress(m_module.get(), "DllGetClassObject"));
        if (getClassObject)
            getClassObject(CLSID_CQuillorn, IID_IClassFactory, m_factory.put_void());
    }

    bool Loaded() const { return static_cast<bool>(m_factory); }
    HMODULE Module() const { return m_module.get(); }

    wil::com_ptr<ITagsEditor> CreateEditor() const
    {
        wil::com_ptr<ITagsEditor> editor;
        EXPECT_EQ(S_OK, m_factory->CreateInstance(nullptr, IID_ITagsEditor, editor.put_void()));
        return editor;
    }

private:
    // Declared first so the factory is released before the DLL is freed.
    wil::unique_hmodule m_module;
    wil::com_ptr<IClassFactory> m_factory;
};

// A test suite whose tests share one loaded DLL in a single-threaded apartment;
// each test gets a fresh object in m_editor.
class QuillornTestSuite : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s_library = new QuillornLibrary();
    }
    static void TearDownTestSuite()
    {
        delete s_library;
        s_library = nullptr;
        ::CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_library->Loaded());
        m_editor = s_library->CreateEditor();
        ASSERT_TRUE(m_editor);
    }

    static HRESULT Open(ITagsEditor* editor, const std::wstring& path)
    {
        wil::unique_bstr name(::SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
        return editor->OpenFile(name.get());
    }

    static inline QuillornLibrary* s_library = nullptr;
    wil::com_ptr<ITagsEditor> m_editor;
};

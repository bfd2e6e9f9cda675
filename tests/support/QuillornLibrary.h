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

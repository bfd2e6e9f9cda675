// Quillorn.dll as loaded in the object tests' process, its exports, and
// small COM objects the tests play host with.
#pragma once

#include "ComTestSupport.h"

#include <ocidl.h>
#include <olectl.h>

#include <cstdio>

class ServerDll
{
public:
    static HMODULE s_module;

    static HRESULT Call(const char* exportName)
    {
        auto function = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(::GetProcAddress(s_module, exportName)));
        return function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    static HRESULT CanUnloadNow() { return Call("DllCanUnloadNow"); }

    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
    {
        auto function = reinterpret_cast<LPFNGETCLASSOBJECT>(
            reinterpret_cast<void*>(::GetProcAddress(s_module, "DllGetClassObject")));
        return function ? function(clsid, iid, ppv) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
};

// A new CQuillorn through COM activation.
template <class I = IUnknown>
wil::com_ptr<I> CreateQuillorn(REFIID iid = IID_IUnknown)
{
    wil::com_ptr<I> object;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, iid, object.put_void()));
    return object;
}

// A host object with a plain count; QueryInterface answers IUnknown and,
// when `answer` is S_OK, the interfaces in `iids`, else fails with `answer`.
class TestUnknown : public IDispatch
{
public:
    TestUnknown(std::initializer_list<IID> iids = {}, HRESULT answer = S_OK) : m_iids(iids), m_answer(answer) {}
    virtual ~TestUnknown() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override
    {
        ++m_queries;
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (::IsEqualIID(iid, IID_IUnknown))
        {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        for (const IID& known : m_iids)
            if (::IsEqualIID(iid, known))
            {
                if (FAILED(m_answer))
                    return m_answer;
                *ppv = static_cast<IDispatch*>(this);
                AddRef();
                return S_OK;
            }
        return Delegate(iid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_refs); } // lives on the stack

    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    LONG Refs() const { return m_refs; }
    int Queries() const { return m_queries; }

protected:
    virtual HRESULT Delegate(REFIID, void**) { return E_NOINTERFACE; }

private:
    std::vector<IID> m_iids;
    HRESULT m_answer;
    LONG m_refs = 1;
    int m_queries = 0;
};

// An outer object aggregating CQuillorn: unknown interfaces go to the inner one.
class Outer : public TestUnknown
{
public:
    wil::com_ptr<IUnknown> inner;

protected:
    HRESULT Delegate(REFIID iid, void** ppv) override
    {
        return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
};

// Helpers of the COM plumbing tests: child processes, registry snapshots,
// the DLL's exports and COM apartments.
#pragma once

#include "Quillorn_h.h"
#include "TestPaths.h"

#include <windows.h>

#include <wil/resource.h>
#include <wil/result.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace comtest
{
    // -----------------------------------------------------------------------
    // Identifiers as text

    inline const wchar_t kClsid[] = L"{7BC039E5-96E2-48C3-82AE-23889B9C969B}";
    inline const wchar_t kLibid[] = L"{F01017D6-62C2-4833-A7F6-8C518DD79B2D}";
    inline const wchar_t kProxyClsid[] = L"{27CD670F-BDD6-43C9-90E2-6842AF2E9E65}"; // IID_IInformation
    inline const wchar_t kIidTagsEditor[] = L"{B5179B3B-8A06-4B20-9790-DB48FE706171}";
    inline const wchar_t kAppIdKey[] = L"5152DDA7-DCD6-40b7-9F0E-86E134A1BBA2";

    // -----------------------------------------------------------------------
    // Processes

    // Runs a command line to its end; returns its exit code (stdout in *output).
    inline DWORD RunProcess(std::wstring commandLine, std::string* output = nullptr)
    {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        wil::unique_handle readEnd, writeEnd;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (output)
        {
            if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0))
            {
                ADD_FAILURE() << "CreatePipe: " << ::GetLastError();
                return ~0u;
            }
            ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = writeEnd.get();
            startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
            startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        }
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                              &startup, &process))
        {
            ADD_FAILURE() << "CreateProcess: " << ::GetLastError();
            return ~0u;
        }
        wil::unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
        if (output)
        {
            writeEnd.reset();
            char buffer[4096];
            DWORD read = 0;
            while (::ReadFile(readEnd.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
                output->append(buffer, read);
        }
        ::WaitForSingleObject(processHandle.get(), INFINITE);
        DWORD exitCode = ~0u;
        ::GetExitCodeProcess(processHandle.get(), &exitCode);
        return exitCode;
    }

    inline std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

    inline std::wstring SystemTool(const wchar_t* exe)
    {
        wchar_t dir[MAX_PATH] = {};
        ::GetSystemDirectoryW(dir, MAX_PATH);
        return std::wstring(dir) + L"\\" + exe;
    }

    // -----------------------------------------------------------------------
    // Registry

    // A key's values by name, each as (type, data); strings as text, DWORDs in decimal.
    using Values = std::map<std::wstring, std::pair<DWORD, std::wstring>>;
    // A key and everything below it, by path relative to it ("" is the key).
    // Names are spelled as stored, so the comparison sees their case.
    using Tree = std::map<std::wstring, Values>;

    inline bool KeyExists(HKEY root, const std::wstring& path)
    {
        wil::unique_hkey key;
        return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

    inline void ReadInto(HKEY key, const std::wstring& relative, Tree& tree)
    {
        Values& values = tree[relative];
        for (DWORD i = 0;; ++i)
        {
            wchar_t name[256];
            DWORD nameLength = 256, type = 0, size = 0;
            if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            std::vector<BYTE> data(size + sizeof(wchar_t));
            nameLength = 256;
            ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
            std::wstring text;
            if (type == REG_DWORD)
                text = std::to_wstring(*reinterpret_cast<DWORD*>(data.data()));
            else if (type == REG_SZ || type == REG_EXPAND_SZ)
                text = reinterpret_cast<const wchar_t*>(data.data());
            values[name] = {type, text};
        }
        for (DWORD i = 0;; ++i)
        {
            wchar_t name[256];
            DWORD nameLength = 256;
            if (::RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            wil::unique_hkey child;
            if (::RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS)
                ReadInto(child.get(), relative.empty() ? name : relative + L"\\" + name, tree);
        }
    }

    // Empty when the key does not exist.
    inline Tree ReadTree(HKEY root, const std::wstring& path)
    {
        Tree tree;
        wil::unique_hkey key;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
            ReadInto(key.get(), L"", tree);
        return tree;
    }

    // The name of `parent`'s subkey `name` as stored (lookups ignore case).
    inline std::wstring StoredName(HKEY root, const std::wstring& parent, const std::wstring& name)
    {
        wil::unique_hkey key;
        if (::RegOpenKeyExW(root, parent.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            return L"";
        for (DWORD i = 0;; ++i)
        {
            wchar_t stored[256];
            DWORD length = 256;
            if (::RegEnumKeyExW(key.get(), i, stored, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                return L"";
            if (_wcsicmp(stored, name.c_str()) == 0)
                return stored;
        }
    }

    inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    inline std::string Describe(const Tree& tree)
    {
        std::string out;
        for (const auto& [path, values] : tree)
        {
            out += "[" + Narrow(path) + "]\n";
            for (const auto& [name, value] : values)
                out += "  " + (name.empty() ? std::string("@") : Narrow(name)) + " (" + std::to_string(value.first) +
                       ") = " + Narrow(value.second) + "\n";
        }
        return out;
    }

    // -----------------------------------------------------------------------
    // COM

    using Apartment = wil::unique_couninitialize_call;

    inline std::wstring ToWString(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

    template <class I>
    wil::com_ptr<I> Query(IUnknown* unknown, REFIID iid)
    {
        wil::com_ptr<I> result;
        EXPECT_EQ(S_OK, unknown->QueryInterface(iid, result.put_void()));
        return result;
    }

    // The identity of an object: what its IUnknown answers.
    inline IUnknown* Identity(IUnknown* unknown)
    {
        wil::com_ptr<IUnknown> identity;
        if (FAILED(unknown->QueryInterface(IID_IUnknown, identity.put_void())))
            return nullptr;
        return identity.get(); // compared only while the caller holds the object
    }

    // The current reference count of an object, read by an AddRef/Release pair.
    inline ULONG RefCount(IUnknown* unknown)
    {
        unknown->AddRef();
        return unknown->Release();
    }
}

// The registrar: runs REGISTRY scripts, the text resources that say which
// registry keys and values a server writes and removes.
//
// Script syntax (8-bit text, whitespace-separated tokens):
//
//   script := { root '{' { key } '}' }
//   root   := HKCR | HKCU | HKLM | HKU   (or their HKEY_... spellings)
//   key    := [ NoRemove | ForceRemove ] name [ '=' value ]
//             [ '{' { 'val' name '=' value | key } '}' ]
//   value  := s 'text' | d number
//
// A name or text is a bare token or is quoted in single quotes ('' stands for
// one quote). %NAME% inside any token is replaced with the value given to
// AddReplacement (case-insensitive; %% is a percent sign).
//
// Registering: a ForceRemove key is deleted with everything below it and
// written anew; every other key is opened or created; values are set.
// Unregistering: named values are deleted, then each key once it has no
// subkeys left, except NoRemove keys. Keys already missing are no error.
// A script with a syntax error changes nothing.
//
// While per-user registration is on, HKCR means HKCU\Software\Classes.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

namespace atl
{
    struct _ATL_REGMAP_ENTRY
    {
        LPCOLESTR szKey;
        LPCOLESTR szData;
    };

    // The script text is malformed, or names a replacement nobody gave.
    constexpr HRESULT E_ATL_BAD_SCRIPT = static_cast<HRESULT>(0x8007000DL); // ERROR_INVALID_DATA

    // Process-wide: once on, scripts and type libraries go to the current user.
    HRESULT AtlSetPerUserRegistration(bool bEnable) noexcept;
    HRESULT AtlGetPerUserRegistration(bool* pbEnabled) noexcept;

    class CRegObject
    {
    public:
        HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item) noexcept;

        HRESULT StringRegister(LPCOLESTR script) noexcept { return RunText(script, true); }
        HRESULT StringUnregister(LPCOLESTR script) noexcept { return RunText(script, false); }
        HRESULT ResourceRegister(HMODULE module, UINT id, LPCOLESTR type) noexcept { return RunResource(module, id, type, true); }
        HRESULT ResourceUnregister(HMODULE module, UINT id, LPCOLESTR type) noexcept { return RunResource(module, id, type, false); }

    private:
        HRESULT RunText(LPCOLESTR script, bool bRegister) noexcept;
        HRESULT RunResource(HMODULE module, UINT id, LPCOLESTR type, bool bRegister) noexcept;

        std::vector<std::pair<std::wstring, std::wstring>> m_replacements;
    };
}

// The registrar: a script is parsed whole into a tree of keys first, so a
// syntax error writes nothing; then the tree is walked in register or
// unregister mode.
#include "atlregistrar.h"

#include <wil/resource.h>
#include <wil/result.h>

#include <cwctype>
#include <optional>

namespace atl
{
    namespace
    {
        volatile LONG g_perUserRegistration = 0;

        enum class KeyFlag
        {
            None,
            NoRemove,
            ForceRemove,
        };

        struct RegValue
        {
            std::wstring name; // empty: the key's default value
            DWORD type;
            std::wstring text;
            DWORD number;
        };

        struct RegKey
        {
            std::wstring name;
            KeyFlag flag = KeyFlag::None;
            std::vector<RegValue> values;
            std::vector<RegKey> subkeys;
        };

        struct RegRoot
        {
            HKEY root;
            std::vector<RegKey> keys;
        };

        struct Token
        {
            std::wstring text;
            bool quoted;

            bool Is(const wchar_t* word) const { return !quoted && _wcsicmp(text.c_str(), word) == 0; }
        };

        using Replacements = std::vector<std::pair<std::wstring, std::wstring>>;

        // Expands %NAME% in one token; false for an unknown or unterminated name.
        bool Expand(const std::wstring& raw, const Replacements& replacements, std::wstring& out)
        {
            out.clear();
            for (size_t i = 0; i < raw.size(); ++i)
            {
                if (raw[i] != L'%')
                {
                    out += raw[i];
                    continue;
                }
                const size_t end = raw.find(L'%', i + 1);
                if (end == std::wstring::npos)
                    return false;
                const std::wstring name = raw.substr(i + 1, end - i - 1);
                if (name.empty())
                    out += L'%';
                else
                {
                    const std::wstring* value = nullptr;
                    for (const auto& r : replacements)
                        if (_wcsicmp(r.first.c_str(), name.c_str()) == 0)
                            value = &r.second;
                    if (!value)
                        return false;
                    out += *value;
                }
                i = end;
            }
            return true;
        }

        bool Tokenize(const wchar_t* text, const Replacements& replacements, std::vector<Token>& tokens)
        {
            const wchar_t* p = text;
            for (;;)
            {
                while (*p && std::iswspace(*p))
                    ++p;
                if (!*p)
                    return true;
                std::wstring raw;
                bool quoted = false;
                if (*p == L'\'')
                {
                    quoted = true;
                    for (++p;; ++p)
                    {
                        if (!*p)
                            return false;
                        if (*p == L'\'')
                        {
                            if (p[1] != L'\'')
                                break;
                            ++p;
                        }
                        raw += *p;
                    }
                    ++p;
                }
                else
                    while (*p && !std::iswspace(*p))
                        raw += *p++;
                Token token{std::wstring(), quoted};
                if (!Expand(raw, replacements, token.text))
                    return false;
                tokens.push_back(std::move(token));
            }
        }

        class Parser
        {
        public:
            explicit Parser(const std::vector<Token>& tokens) : m_tokens(tokens) {}

            bool Script(std::vector<RegRoot>& roots)
            {
                while (m_pos < m_tokens.size())
                {
                    RegRoot root{};
                    if (!Root(root.root) || !Expect(L"{"))
                        return false;
                    while (!AtClose())
                    {
                        RegKey key;
                        if (!Key(key))
                            return false;
                        root.keys.push_back(std::move(key));
                    }
                    if (!Expect(L"}"))
                        return false;
                    roots.push_back(std::move(root));
                }
                return true;
            }

        private:
            const Token* Next() { return m_pos < m_tokens.size() ? &m_tokens[m_pos++] : nullptr; }
            bool Peek(const wchar_t* word) const { return m_pos < m_tokens.size() && m_tokens[m_pos].Is(word); }
            bool AtClose() const { return m_pos >= m_tokens.size() || Peek(L"}"); }
            bool Expect(const wchar_t* word)
            {
                const Token* t = Next();
                return t && t->Is(word);
            }

            bool Root(HKEY& root)
            {
                static const struct
                {
                    const wchar_t* shortName;
                    const wchar_t* longName;
                    HKEY key;
                } roots[] = {
                    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                    {L"HKU", L"HKEY_USERS", HKEY_USERS},
                };
                const Token* t = Next();
                if (!t)
                    return false;
                for (const auto& r : roots)
                    if (t->Is(r.shortName) || t->Is(r.longName))
                    {
                        root = r.key;
                        return true;
                    }
                return false;
            }

            // A key or value name: any token but the punctuation.
            bool Name(std::wstring& name)
            {
                const Token* t = Next();
                if (!t || t->text.empty() || t->Is(L"{") || t->Is(L"}") || t->Is(L"="))
                    return false;
                name = t->text;
                return true;
            }

            bool Value(RegValue& value)
            {
                const Token* type = Next();
                const Token* data = Next();
                if (!type || !data)
                    return false;
                if (type->Is(L"s"))
                {
                    value.type = REG_SZ;
                    value.text = data->text;
                    return true;
                }
                if (type->Is(L"d"))
                {
                    wchar_t* end = nullptr;
                    value.type = REG_DWORD;
                    value.number = wcstoul(data->text.c_str(), &end, 0);
                    return !data->text.empty() && *end == L'\0';
                }
                return false;
            }

            bool Key(RegKey& key)
            {
                if (Peek(L"NoRemove"))
                {
                    key.flag = KeyFlag::NoRemove;
                    ++m_pos;
                }
                else if (Peek(L"ForceRemove"))
                {
                    key.flag = KeyFlag::ForceRemove;
                    ++m_pos;
                }
                if (!Name(key.name))
                    return false;
                if (Peek(L"="))
                {
                    ++m_pos;
                    RegValue value{};
                    if (!Value(value))
                        return false;
                    key.values.push_back(std::move(value));
                }
                if (!Peek(L"{"))
                    return true;
                ++m_pos;
                while (!AtClose())
                {
                    if (Peek(L"val"))
                    {
                        ++m_pos;
                        RegValue value{};
                        if (!Name(value.name) || !Expect(L"=") || !Value(value))
                            return false;
                        key.values.push_back(std::move(value));
                        continue;
                    }
                    RegKey subkey;
                    if (!Key(subkey))
                        return false;
                    key.subkeys.push_back(std::move(subkey));
                }
                return Expect(L"}");
            }

            const std::vector<Token>& m_tokens;
            size_t m_pos = 0;
        };

        bool IsMissing(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

        HRESULT SetValue(HKEY key, const RegValue& value)
        {
            const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
            if (value.type == REG_DWORD)
                RETURN_IF_WIN32_ERROR(::RegSetValueExW(key, name, 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD)));
            else
                RETURN_IF_WIN32_ERROR(::RegSetValueExW(key, name, 0, value.type,
                                                       reinterpret_cast<const BYTE*>(value.text.c_str()),
                                                       static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t))));
            return S_OK;
        }

        HRESULT RegisterKey(HKEY parent, const RegKey& key)
        {
            if (key.flag == KeyFlag::ForceRemove)
            {
                const LONG error = ::RegDeleteTreeW(parent, key.name.c_str());
                if (error != ERROR_SUCCESS && !IsMissing(error))
                    return HRESULT_FROM_WIN32(error);
            }
            wil::unique_hkey hkey;
            RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                                    nullptr, hkey.put(), nullptr));
            for (const RegValue& value : key.values)
                RETURN_IF_FAILED(SetValue(hkey.get(), value));
            for (const RegKey& subkey : key.subkeys)
                RETURN_IF_FAILED(RegisterKey(hkey.get(), subkey));
            return S_OK;
        }

        HRESULT UnregisterKey(HKEY parent, const RegKey& key)
        {
            DWORD subkeyCount = 0;
            {
                wil::unique_hkey hkey;
                const LONG error = ::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, hkey.put());
                if (IsMissing(error))
                    return S_OK;
                RETURN_IF_WIN32_ERROR(error);
                for (const RegValue& value : key.values)
                {
                    const LONG e = ::RegDeleteValueW(hkey.get(), value.name.empty() ? nullptr : value.name.c_str());
                    if (e != ERROR_SUCCESS && !IsMissing(e))
                        return HRESULT_FROM_WIN32(e);
                }
                for (const RegKey& subkey : key.subkeys)
                    RETURN_IF_FAILED(UnregisterKey(hkey.get(), subkey));
                if (key.flag == KeyFlag::NoRemove)
                    return S_OK;
                RETURN_IF_WIN32_ERROR(::RegQueryInfoKeyW(hkey.get(), nullptr, nullptr, nullptr, &subkeyCount, nullptr,
                                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
            }
            if (subkeyCount == 0)
            {
                const LONG error = ::RegDeleteKeyW(parent, key.name.c_str());
                if (error != ERROR_SUCCESS && !IsMissing(error))
                    return HRESULT_FROM_WIN32(error);
            }
            return S_OK;
        }

        // HKCR becomes HKCU\Software\Classes while per-user registration is on.
        HRESULT OpenRoot(HKEY root, bool bRegister, wil::unique_hkey& opened, HKEY& effective)
        {
            effective = root;
            bool perUser = false;
            AtlGetPerUserRegistration(&perUser);
            if (root != HKEY_CLASSES_ROOT || !perUser)
                return S_OK;
            const LONG error = bRegister
                                   ? ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                                       KEY_READ | KEY_WRITE, nullptr, opened.put(), nullptr)
                                   : ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ | KEY_WRITE,
                                                     opened.put());
            if (!bRegister && IsMissing(error))
            {
                effective = nullptr;
                return S_OK;
            }
            RETURN_IF_WIN32_ERROR(error);
            effective = opened.get();
            return S_OK;
        }
    }

    HRESULT AtlSetPerUserRegistration(bool bEnable) noexcept
    {
        ::InterlockedExchange(&g_perUserRegistration, bEnable ? 1 : 0);
        return S_OK;
    }

    HRESULT AtlGetPerUserRegistration(bool* pbEnabled) noexcept
    {
        RETURN_HR_IF_NULL(E_POINTER, pbEnabled);
        *pbEnabled = g_perUserRegistration != 0;
        return S_OK;
    }

    HRESULT CRegObject::AddReplacement(LPCOLESTR key, LPCOLESTR item) noexcept
    {
        RETURN_HR_IF(E_INVALIDARG, key == nullptr || item == nullptr || *key == L'\0');
        try
        {
            for (auto& r : m_replacements)
                if (_wcsicmp(r.first.c_str(), key) == 0)
                {
                    r.second = item;
                    return S_OK;
                }
            m_replacements.emplace_back(key, item);
            return S_OK;
        }
        CATCH_RETURN()
    }

    HRESULT CRegObject::RunText(LPCOLESTR script, bool bRegister) noexcept
    {
        RETURN_HR_IF_NULL(E_POINTER, script);
        try
        {
            std::vector<Token> tokens;
            RETURN_HR_IF(E_ATL_BAD_SCRIPT, !Tokenize(script, m_replacements, tokens));
            std::vector<RegRoot> roots;
            RETURN_HR_IF(E_ATL_BAD_SCRIPT, !Parser(tokens).Script(roots));

            for (const RegRoot& root : roots)
            {
                wil::unique_hkey opened;
                HKEY effective = nullptr;
                RETURN_IF_FAILED(OpenRoot(root.root, bRegister, opened, effective));
                if (!effective)
                    continue;
                for (const RegKey& key : root.keys)
                    RETURN_IF_FAILED(bRegister ? RegisterKey(effective, key) : UnregisterKey(effective, key));
            }
            return S_OK;
        }
        CATCH_RETURN()
    }

    HRESULT CRegObject::RunResource(HMODULE module, UINT id, LPCOLESTR type, bool bRegister) noexcept
    {
        HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
        RETURN_HR_IF(HRESULT_FROM_WIN32(::GetLastError()), resource == nullptr);
        HGLOBAL loaded = ::LoadResource(module, resource);
        RETURN_HR_IF(HRESULT_FROM_WIN32(::GetLastError()), loaded == nullptr);
        const auto* bytes = static_cast<const char*>(::LockResource(loaded));
        const int size = static_cast<int>(::SizeofResource(module, resource));
        RETURN_HR_IF(E_ATL_BAD_SCRIPT, bytes == nullptr || size <= 0);
        try
        {
            const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0);
            RETURN_HR_IF(HRESULT_FROM_WIN32(::GetLastError()), length == 0);
            std::wstring text(static_cast<size_t>(length), L'\0');
            ::MultiByteToWideChar(CP_ACP, 0, bytes, size, text.data(), length);
            return RunText(text.c_str(), bRegister);
        }
        CATCH_RETURN()
    }
}

// Registry access with one current key at a time.
#pragma once

#include <Classes.hpp>
#include <wil/resource.h>

class ERegistryException : public Exception
{
public:
    using Exception::Exception;
};

class TRegistry : public TObject
{
public:
    // Starts with HKEY_CURRENT_USER, the access mask KEY_ALL_ACCESS and no key current.
    TRegistry();
    explicit TRegistry(REGSAM AAccess);
    ~TRegistry() override;

    // Opens Key below the root key with the current access mask, creating it (and
    // any missing key above it, non-volatile) when CanCreate allows. On success
    // it becomes the current key; the key current before is closed.
    bool OpenKey(const String& Key, bool CanCreate);
    void CloseKey();

    // False when no key is current; the registry matches names without regard to case.
    bool ValueExists(const String& Name) const;
    // The data of a REG_SZ or REG_EXPAND_SZ value as stored (unexpanded); an empty
    // string for a missing value. Other types raise ERegistryException.
    String ReadString(const String& Name) const;
    // Replaces the list's content with the current key's value names, in the
    // registry's order; leaves it empty when no key is current.
    void GetValueNames(TStrings* Strings) const;

private:
    HKEY GetRootKey() const { return FRootKey; }
    void SetRootKey(HKEY Value);
    REGSAM GetAccess() const { return FAccess; }
    void SetAccess(REGSAM Value) { FAccess = Value; }
    HKEY GetCurrentKey() const { return FCurrentKey.get(); }

public:
    // Changing the root key closes the current key.
    TProperty<TRegistry, HKEY, &TRegistry::GetRootKey, &TRegistry::SetRootKey> RootKey{this};
    TProperty<TRegistry, REGSAM, &TRegistry::GetAccess, &TRegistry::SetAccess> Access{this};
    TReadOnlyProperty<TRegistry, HKEY, &TRegistry::GetCurrentKey> CurrentKey{this};

private:
    HKEY FRootKey = HKEY_CURRENT_USER;
    REGSAM FAccess;
    wil::unique_hkey FCurrentKey;
};

// One registry key, read through a TRegistry; no key stays open between calls.
#pragma once

#include <Registry.hpp>

class TRegedit
{
public:
    // Touches nothing in the registry.
    TRegedit(const String& KeyPath, HKEY RootKey);
    ~TRegedit();
    TRegedit(const TRegedit&) = delete;
    TRegedit& operator=(const TRegedit&) = delete;

    // The value's string data, or Default when the key cannot be opened or has no
    // such value. A value of another type raises ERegistryException, which leaves
    // the access mask at KEY_READ.
    String ReadStringDefault(const String& Name, const String& Default);
    // Replaces the list's content with the names of the key's values.
    void ReadValueNames(TStrings* List);

private:
    friend class TRegeditInspector; // tests look at the registry object between calls

    TRegistry* FRegistry;
    String FKeyPath;
};

#include <Registry.hpp>
#include <vector>

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(REGSAM AAccess) : FAccess(AAccess) {}

TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(HKEY Value)
{
    CloseKey();
    FRootKey = Value;
}

bool TRegistry::OpenKey(const String& Key, bool CanCreate)
{
    const wchar_t* Path = Key.c_str();
    if (*Path == L'\\')
        ++Path;
    HKEY Opened = nullptr;
    LONG Status;
    if (CanCreate)
        Status = RegCreateKeyExW(FRootKey, Path, 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr,
                                 &Opened, nullptr);
    else
        Status = RegOpenKeyExW(FRootKey, Path, 0, FAccess, &Opened);
    if (Status != ERROR_SUCCESS)
        return false;
    FCurrentKey.reset(Opened);
    return true;
}

void TRegistry::CloseKey()
{
    FCurrentKey.reset();
}

bool TRegistry::ValueExists(const String& Name) const
{
    return FCurrentKey &&
           RegQueryValueExW(FCurrentKey.get(), Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

String TRegistry::ReadString(const String& Name) const
{
    if (!FCurrentKey)
        return String();
    DWORD Type = REG_NONE;
    DWORD Size = 0;
    LONG Status = RegQueryValueExW(FCurrentKey.get(), Name.c_str(), nullptr, &Type, nullptr, &Size);
    if (Status != ERROR_SUCCESS)
        return String();
    if (Type != REG_SZ && Type != REG_EXPAND_SZ)
        throw ERegistryException(Format(L"Invalid data type for '%s'", {Name}));
    std::vector<wchar_t> Data;
    do
    {
        // Room for a terminator the stored data may lack; retried if the value grew meanwhile.
        Data.assign(Size / sizeof(wchar_t) + 2, L'\0');
        Size = static_cast<DWORD>((Data.size() - 1) * sizeof(wchar_t));
        Status = RegQueryValueExW(FCurrentKey.get(), Name.c_str(), nullptr, &Type,
                                  reinterpret_cast<BYTE*>(Data.data()), &Size);
    } while (Status == ERROR_MORE_DATA);
    if (Status != ERROR_SUCCESS)
        return String();
    if (Type != REG_SZ && Type != REG_EXPAND_SZ)
        throw ERegistryException(Format(L"Invalid data type for '%s'", {Name}));
    return String(Data.data());
}

void TRegistry::GetValueNames(TStrings* Strings) const
{
    Strings->Clear();
    if (!FCurrentKey)
        return;
    DWORD MaxNameLength = 0;
    if (RegQueryInfoKeyW(FCurrentKey.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &MaxNameLength, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> Name(MaxNameLength + 1);
    for (DWORD Index = 0;;)
    {
        DWORD Length = static_cast<DWORD>(Name.size());
        const LONG Status =
            RegEnumValueW(FCurrentKey.get(), Index, Name.data(), &Length, nullptr, nullptr, nullptr, nullptr);
        if (Status == ERROR_MORE_DATA && Name.size() < 32768) // names have at most 16383 characters
        {
            Name.resize(Name.size() * 2);
            continue;
        }
        if (Status != ERROR_SUCCESS)
            break;
        Strings->Add(String(Name.data(), Length));
        ++Index;
    }
}

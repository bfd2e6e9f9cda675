#include "Regedit.h"

namespace
{
    // Closes the registry object's current key when the block ends, however it ends.
    class TCurrentKeyCloser
    {
    public:
        explicit TCurrentKeyCloser(TRegistry* Registry) : FRegistry(Registry) {}
        ~TCurrentKeyCloser() { FRegistry->CloseKey(); }
        TCurrentKeyCloser(const TCurrentKeyCloser&) = delete;
        TCurrentKeyCloser& operator=(const TCurrentKeyCloser&) = delete;

    private:
        TRegistry* const FRegistry;
    };
}

TRegedit::TRegedit(const String& KeyPath, HKEY RootKey) : FRegistry(new TRegistry), FKeyPath(KeyPath)
{
    FRegistry->RootKey = RootKey;
}

TRegedit::~TRegedit()
{
    delete FRegistry;
}

String TRegedit::ReadStringDefault(const String& Name, const String& Default)
{
    String Result = Default;
    FRegistry->Access = KEY_READ;
    TCurrentKeyCloser Closer(FRegistry);
    // Opened with creation allowed; when opening fails no key is current and the value is not found.
    FRegistry->OpenKey(FKeyPath, true);
    if (FRegistry->ValueExists(Name))
        Result = FRegistry->ReadString(Name);
    FRegistry->Access = KEY_ALL_ACCESS;
    return Result;
}

void TRegedit::ReadValueNames(TStrings* List)
{
    TCurrentKeyCloser Closer(FRegistry);
    FRegistry->OpenKey(FKeyPath, true);
    FRegistry->GetValueNames(List);
}

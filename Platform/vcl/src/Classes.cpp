#include <Classes.hpp>
#include <algorithm>

void (*ApplicationHandleException)(TObject* Sender) = nullptr;

namespace
{
    [[noreturn]] void ListIndexError(int Index)
    {
        throw EListError(Format(L"List index out of bounds (%s)", {std::to_wstring(Index)}));
    }
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner)
{
    if (FOwner)
    {
        FOwner->FComponents.push_back(this);
        FOwner->Notification(this, opInsert);
    }
}

TComponent::~TComponent()
{
    DestroyComponents();
    if (FOwner)
    {
        auto& Siblings = FOwner->FComponents;
        Siblings.erase(std::remove(Siblings.begin(), Siblings.end(), this), Siblings.end());
        FOwner->Notification(this, opRemove);
    }
}

void TComponent::DestroyComponents()
{
    // Last created goes first; each is detached before it is destroyed.
    while (!FComponents.empty())
    {
        TComponent* Component = FComponents.back();
        FComponents.pop_back();
        Component->FOwner = nullptr;
        Notification(Component, opRemove);
        delete Component;
    }
}

TComponent* TComponent::FindComponent(const String& AName) const
{
    for (TComponent* Component : FComponents)
        if (SameText(Component->Name, AName))
            return Component;
    return nullptr;
}

TComponent* TComponent::GetComponent(int Index) const
{
    if (Index < 0 || Index >= GetComponentCount())
        ListIndexError(Index);
    return FComponents[Index];
}

void TComponent::Notification(TComponent*, TOperation) {}

int TStringList::Add(const String& S)
{
    FList.push_back(S);
    return GetCount() - 1;
}

void TStringList::Clear()
{
    FList.clear();
}

String TStringList::Get(int Index) const
{
    if (Index < 0 || Index >= GetCount())
        ListIndexError(Index);
    return FList[Index];
}

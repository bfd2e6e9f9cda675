// Components with owners, string lists and events.
#pragma once

#include <SysUtils.hpp>
#include <functional>
#include <vector>

typedef std::function<void(TObject* Sender)> TNotifyEvent;

// Handles the exception being handled (call it in a catch block) the way the
// application does; set by the application object. Window procedures end every
// exception here: none may unwind through the system's frames.
extern void (*ApplicationHandleException)(TObject* Sender);

enum TOperation { opInsert, opRemove };

// An object with an owner: the owner destroys the components it owns.
class TComponent : public TObject
{
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    TComponent* FindComponent(const String& AName) const;
    void DestroyComponents();

    String Name;

private:
    TComponent* GetOwner() const { return FOwner; }
    int GetComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* GetComponent(int Index) const;

public:
    TReadOnlyProperty<TComponent, TComponent*, &TComponent::GetOwner> Owner{this};
    TReadOnlyProperty<TComponent, int, &TComponent::GetComponentCount> ComponentCount{this};
    TIndexedProperty<TComponent, TComponent*, &TComponent::GetComponent> Components{this};

protected:
    // Tells an owner that one of its components comes or goes.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};

class TStrings : public TObject
{
protected:
    virtual int GetCount() const = 0;
    virtual String Get(int Index) const = 0;

public:
    virtual int Add(const String& S) = 0;
    virtual void Clear() = 0;

    TReadOnlyProperty<TStrings, int, &TStrings::GetCount> Count{this};
    TIndexedProperty<TStrings, String, &TStrings::Get> Strings{this};
};

class TStringList : public TStrings
{
public:
    int Add(const String& S) override;
    void Clear() override;

protected:
    int GetCount() const override { return static_cast<int>(FList.size()); }
    String Get(int Index) const override;

private:
    std::vector<String> FList;
};

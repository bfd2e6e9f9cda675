// The base of the toolkit: strings, the root object, properties.
#pragma once

#include <windows.h>
#include <string>
#include <utility>

// Marks the members that a form's layout binds by name (see TPublishedTable in Forms.hpp).
#define __published public

// UTF-16 text, as everywhere in the toolkit.
class UnicodeString : public std::wstring
{
public:
    using std::wstring::wstring;
    UnicodeString() = default;
    UnicodeString(const std::wstring& Text) : std::wstring(Text) {}
    UnicodeString(std::wstring&& Text) : std::wstring(std::move(Text)) {}

    bool IsEmpty() const noexcept { return empty(); }
    int Length() const noexcept { return static_cast<int>(size()); }
};
typedef UnicodeString String;

class TObject
{
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// The start-up hook that TApplication::Initialize calls when it is set.
extern void (*InitProc)();

// A property: reads and writes go through the owner's getter and setter, so
// `Control->Enabled = false` acts on the window at once.
template <class TOwner, class T, T (TOwner::*Getter)() const, void (TOwner::*Setter)(T)>
class TProperty
{
public:
    explicit TProperty(TOwner* Owner) noexcept : FOwner(Owner) {}
    TProperty(const TProperty&) = delete;

    TProperty& operator=(T Value)
    {
        (FOwner->*Setter)(std::move(Value));
        return *this;
    }
    TProperty& operator=(const TProperty& Other) { return *this = static_cast<T>(Other); }
    operator T() const { return (FOwner->*Getter)(); }

private:
    TOwner* const FOwner;
};

template <class TOwner, class T, T (TOwner::*Getter)() const>
class TReadOnlyProperty
{
public:
    explicit TReadOnlyProperty(TOwner* Owner) noexcept : FOwner(Owner) {}
    TReadOnlyProperty(const TReadOnlyProperty&) = delete;
    TReadOnlyProperty& operator=(const TReadOnlyProperty&) = delete;

    operator T() const { return (FOwner->*Getter)(); }
    T operator->() const { return (FOwner->*Getter)(); }

private:
    TOwner* const FOwner;
};

// A read-only array property: `Items->Item[i]`.
template <class TOwner, class T, T (TOwner::*Getter)(int) const>
class TIndexedProperty
{
public:
    explicit TIndexedProperty(TOwner* Owner) noexcept : FOwner(Owner) {}
    TIndexedProperty(const TIndexedProperty&) = delete;
    TIndexedProperty& operator=(const TIndexedProperty&) = delete;

    T operator[](int Index) const { return (FOwner->*Getter)(Index); }

private:
    TOwner* const FOwner;
};

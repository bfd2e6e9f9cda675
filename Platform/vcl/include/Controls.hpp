// Windowed controls: each one owns a real Win32 window.
#pragma once

#include <Classes.hpp>
#include <commctrl.h>
#include <vector>
#include <wil/resource.h>

namespace vcl
{
    struct destroy_window { void operator()(HWND Window) const noexcept { ::DestroyWindow(Window); } };
    struct delete_object { void operator()(HGDIOBJ Object) const noexcept { ::DeleteObject(Object); } };
    using unique_hwnd = wil::unique_any<HWND, destroy_window>;
    using unique_hfont = wil::unique_any<HFONT, delete_object>;
}

// Layouts are scaled from their PixelsPerInch to the screen's.
int ScreenPixelsPerInch();

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// One control as a form's layout describes it. Sizes and positions are pixels at
// the form's PixelsPerInch; properties not given keep the toolkit's defaults.
struct TControlResource
{
    const wchar_t* ClassName = nullptr; // L"TListView", L"TButton" or L"TCheckBox"
    const wchar_t* Name = nullptr;
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    const wchar_t* Caption = L"";
    int TabOrder = 0;
    // TListView
    TViewStyle ViewStyle = vsIcon;
    bool Checkboxes = false;
    std::vector<int> Columns = {}; // one width per column
    bool ShowColumnHeaders = true;
    bool ReadOnly = false;
    bool RowSelect = false;
    // Names of published handlers of the form.
    const wchar_t* OnClick = nullptr;
    const wchar_t* OnDblClick = nullptr;
};

struct TCreateParams
{
    const wchar_t* WinClassName = nullptr;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    HWND WndParent = nullptr;
    HMENU Id = nullptr;
};

class TWinControl;

class TControl : public TComponent
{
public:
    explicit TControl(TComponent* AOwner) : TComponent(AOwner) {}

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

protected:
    virtual void Click();
    virtual void DblClick();
};

class TWinControl : public TControl
{
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    // Takes the control's settings from a layout entry; the window is made when
    // the control gets its parent.
    virtual void ReadResource(const TControlResource& Resource, int PixelsPerInch);

    // The control whose window this is, or null.
    static TWinControl* FromHandle(HWND Window);
    // Called by the parent for WM_COMMAND and WM_NOTIFY from this control's window.
    virtual void WMCommand(WORD Code);
    virtual LRESULT WMNotify(NMHDR* Header);

protected:
    HWND GetHandle() const;
    TWinControl* GetParent() const { return FParent; }
    void SetParent(TWinControl* Value);
    bool GetEnabled() const;
    void SetEnabled(bool Value);
    String GetCaption() const;
    void SetCaption(String Value);

public:
    TReadOnlyProperty<TWinControl, HWND, &TWinControl::GetHandle> Handle{this};
    // Setting the parent makes the control's window inside the parent's.
    TProperty<TWinControl, TWinControl*, &TWinControl::GetParent, &TWinControl::SetParent> Parent{this};
    TProperty<TWinControl, bool, &TWinControl::GetEnabled, &TWinControl::SetEnabled> Enabled{this};
    TProperty<TWinControl, String, &TWinControl::GetCaption, &TWinControl::SetCaption> Caption{this};

protected:
    virtual void CreateParams(TCreateParams& Params);
    // Runs once the window exists.
    virtual void CreateWnd();
    // The font of the control's text: its parent's unless it has its own.
    virtual HFONT GetFontHandle() const;
    void CreateHandle();
    bool HandleAllocated() const { return static_cast<bool>(FHandle); }

    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;

private:
    TWinControl* FParent = nullptr;
    String FCaption;
    bool FEnabled = true;
    int FChildCount = 0;
    vcl::unique_hwnd FHandle;
};

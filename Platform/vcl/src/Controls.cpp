#include <Controls.hpp>

namespace
{
    struct release_screen_dc { void operator()(HDC Dc) const noexcept { ReleaseDC(nullptr, Dc); } };
    using unique_screen_dc = wil::unique_any<HDC, release_screen_dc>;
}

int ScreenPixelsPerInch()
{
    unique_screen_dc Screen(GetDC(nullptr));
    return Screen ? GetDeviceCaps(Screen.get(), LOGPIXELSY) : 96;
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TControl::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl()
{
    // Messages that the window's destruction still sends must not reach a half-destroyed object.
    if (FHandle)
        SetWindowLongPtrW(FHandle.get(), GWLP_USERDATA, 0);
}

void TWinControl::ReadResource(const TControlResource& Resource, int PixelsPerInch)
{
    const int Dpi = ScreenPixelsPerInch();
    Name = Resource.Name;
    FLeft = MulDiv(Resource.Left, Dpi, PixelsPerInch);
    FTop = MulDiv(Resource.Top, Dpi, PixelsPerInch);
    FWidth = MulDiv(Resource.Width, Dpi, PixelsPerInch);
    FHeight = MulDiv(Resource.Height, Dpi, PixelsPerInch);
    Caption = Resource.Caption;
}

TWinControl* TWinControl::FromHandle(HWND Window)
{
    return Window ? reinterpret_cast<TWinControl*>(GetWindowLongPtrW(Window, GWLP_USERDATA)) : nullptr;
}

void TWinControl::WMCommand(WORD) {}

LRESULT TWinControl::WMNotify(NMHDR*)
{
    return 0;
}

HWND TWinControl::GetHandle() const
{
    return FHandle.get();
}

void TWinControl::SetParent(TWinControl* Value)
{
    if (FParent)
        throw Exception(L"Control '" + Name + L"' already has a parent");
    FParent = Value;
    if (FParent)
        CreateHandle();
}

bool TWinControl::GetEnabled() const
{
    return FHandle ? IsWindowEnabled(FHandle.get()) != FALSE : FEnabled;
}

void TWinControl::SetEnabled(bool Value)
{
    FEnabled = Value;
    if (FHandle)
        EnableWindow(FHandle.get(), Value);
}

String TWinControl::GetCaption() const
{
    if (!FHandle)
        return FCaption;
    String Text(GetWindowTextLengthW(FHandle.get()), L'\0');
    Text.resize(GetWindowTextW(FHandle.get(), Text.data(), Text.Length() + 1));
    return Text;
}

void TWinControl::SetCaption(String Value)
{
    FCaption = Value;
    if (FHandle)
        SetWindowTextW(FHandle.get(), FCaption.c_str());
}

void TWinControl::CreateParams(TCreateParams& Params)
{
    Params.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    Params.X = FLeft;
    Params.Y = FTop;
    Params.Width = FWidth;
    Params.Height = FHeight;
    if (FParent)
    {
        Params.WndParent = FParent->Handle;
        // Controls are made in tab order, so ids follow it too.
        Params.Id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + FParent->FChildCount++));
    }
}

void TWinControl::CreateWnd() {}

HFONT TWinControl::GetFontHandle() const
{
    return FParent ? FParent->GetFontHandle() : nullptr;
}

void TWinControl::CreateHandle()
{
    TCreateParams Params;
    CreateParams(Params);
    if (!FEnabled)
        Params.Style |= WS_DISABLED;
    HWND Window = CreateWindowExW(Params.ExStyle, Params.WinClassName, FCaption.c_str(), Params.Style, Params.X,
                                  Params.Y, Params.Width, Params.Height, Params.WndParent, Params.Id,
                                  GetModuleHandleW(nullptr), this);
    if (!Window)
        throw Exception(Format(L"Error creating window '%s'", {Name}));
    FHandle.reset(Window);
    SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (HFONT Font = GetFontHandle())
        SendMessageW(Window, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
    CreateWnd();
}

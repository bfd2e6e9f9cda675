#include <StdCtrls.hpp>

void TButton::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    Params.WinClassName = WC_BUTTONW;
    Params.Style |= WS_TABSTOP | BS_PUSHBUTTON;
}

void TButton::WMCommand(WORD Code)
{
    if (Code == BN_CLICKED)
        Click();
}

void TCheckBox::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    Params.WinClassName = WC_BUTTONW;
    Params.Style |= WS_TABSTOP | BS_AUTOCHECKBOX;
}

void TCheckBox::CreateWnd()
{
    SendMessageW(Handle, BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WMCommand(WORD Code)
{
    // The control has already flipped its tick when it reports the click.
    if (Code == BN_CLICKED)
    {
        FChecked = SendMessageW(Handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
        Click();
    }
}

bool TCheckBox::GetChecked() const
{
    return HandleAllocated() ? SendMessageW(Handle, BM_GETCHECK, 0, 0) == BST_CHECKED : FChecked;
}

void TCheckBox::SetChecked(bool Value)
{
    if (GetChecked() == Value)
        return;
    FChecked = Value;
    if (HandleAllocated())
        SendMessageW(Handle, BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
    Click();
}

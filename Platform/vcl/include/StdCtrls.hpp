// Push button and check box.
#pragma once

#include <Controls.hpp>

class TButton : public TWinControl
{
public:
    explicit TButton(TComponent* AOwner) : TWinControl(AOwner) {}
    void WMCommand(WORD Code) override;

protected:
    void CreateParams(TCreateParams& Params) override;
};

// OnClick is raised on every real change of the tick, by the user or by the
// program, and never when the tick is set to what it already is.
class TCheckBox : public TWinControl
{
public:
    explicit TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {}
    void WMCommand(WORD Code) override;

protected:
    void CreateParams(TCreateParams& Params) override;
    void CreateWnd() override;
    bool GetChecked() const;
    void SetChecked(bool Value);

public:
    TProperty<TCheckBox, bool, &TCheckBox::GetChecked, &TCheckBox::SetChecked> Checked{this};

private:
    bool FChecked = false;
};

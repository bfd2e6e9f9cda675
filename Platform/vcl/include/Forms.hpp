// Forms built from a layout table, and the application object.
#pragma once

#include <Controls.hpp>

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
typedef unsigned TBorderIcons;
enum TPosition { poDesigned, poScreenCenter };

// Colours with the high byte set stand for the system colour in the low byte.
typedef DWORD TColor;
const TColor clBtnFace = 0xFF000000 | COLOR_BTNFACE;

struct TFontResource
{
    const wchar_t* Name = L"Tahoma";
    int Height = -11; // pixels at the form's PixelsPerInch; negative: character height
    BYTE Charset = DEFAULT_CHARSET;
};

// A form as its layout describes it: what the form builder walks to make the
// window and its controls. Controls are made in tab order.
struct TFormResource
{
    const wchar_t* ClassName = nullptr; // also the name of the window class
    const wchar_t* Name = nullptr;
    int Left = 0;
    int Top = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
    const wchar_t* Caption = L"";
    TFormBorderStyle BorderStyle = bsSizeable;
    TBorderIcons BorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition Position = poDesigned;
    TColor Color = clBtnFace;
    TFontResource Font = {};
    int PixelsPerInch = 96;
    std::vector<TControlResource> Controls = {};
};

// The published members of a form class, so that its layout can name them: the
// fields that receive the controls and the handlers that events are bound to.
template <class TFormClass>
struct TPublishedTable
{
    struct TField
    {
        template <class TControlClass>
        TField(const wchar_t* AName, TControlClass* TFormClass::*Member)
            : Name(AName), Assign([Member](TFormClass* Self, TComponent* Component) {
                  Self->*Member = dynamic_cast<TControlClass*>(Component);
                  return Self->*Member != nullptr;
              })
        {
        }
        const wchar_t* Name;
        std::function<bool(TFormClass*, TComponent*)> Assign; // false: the control is of another class
    };
    struct TMethod
    {
        const wchar_t* Name;
        void (TFormClass::*Handler)(TObject* Sender);
    };
    std::vector<TField> Fields;
    std::vector<TMethod> Methods;
};

class TForm : public TWinControl
{
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    void Show();
    void Hide();
    // On the application's main form this ends the application once control is
    // back in the message loop; the window stays until then. Other forms hide.
    void Close();

protected:
    // Builds the window and its controls from the layout, stores each control in
    // the published field of its name and binds the named handlers. Called first
    // by the constructor of each form class.
    template <class TSelf>
    void InitInheritedComponent(TSelf* Self, const TFormResource& Resource, const TPublishedTable<TSelf>& Published);

    void CreateParams(TCreateParams& Params) override;
    HFONT GetFontHandle() const override { return FFont.get(); }
    bool GetVisible() const;
    void SetVisible(bool Value);

public:
    TProperty<TForm, bool, &TForm::GetVisible, &TForm::SetVisible> Visible{this};

private:
    typedef std::function<bool(const String& FieldName, TComponent* Control)> TFieldBinder;
    typedef std::function<TNotifyEvent(const String& MethodName)> TMethodFinder;
    void ReadForm(const TFormResource& Resource, const TFieldBinder& BindField, const TMethodFinder& FindMethod);
    TWinControl* FindControl(HWND Window) const;
    static LRESULT CALLBACK FormWndProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    LRESULT WndProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

    String FClassName;
    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    vcl::unique_hfont FFont;
};

template <class TSelf>
void TForm::InitInheritedComponent(TSelf* Self, const TFormResource& Resource, const TPublishedTable<TSelf>& Published)
{
    auto BindField = [Self, &Published](const String& FieldName, TComponent* Control) {
        for (const auto& Field : Published.Fields)
            if (SameText(Field.Name, FieldName))
                return Field.Assign(Self, Control);
        return true; // a control without a field is still made and owned
    };
    auto FindMethod = [Self, &Published](const String& MethodName) -> TNotifyEvent {
        for (const auto& Method : Published.Methods)
            if (SameText(Method.Name, MethodName))
                return [Self, Handler = Method.Handler](TObject* Sender) { (Self->*Handler)(Sender); };
        return nullptr;
    };
    ReadForm(Resource, BindField, FindMethod);
}

typedef std::function<void(TObject* Sender, Exception* E)> TExceptionEvent;

class TApplication : public TComponent
{
public:
    explicit TApplication(TComponent* AOwner);
    ~TApplication() override;

    // Registers the common controls and runs InitProc when it is set.
    void Initialize();
    // Creates a form owned by the application; the first becomes the main form.
    template <class TFormClass>
    void CreateForm(TFormClass** Reference);
    // Shows the main form and dispatches messages until the application ends.
    void Run();
    // Dispatches the messages waiting in the queue, then returns.
    void ProcessMessages();
    void Terminate();

    // For a catch block: hands the exception being handled to OnException if it
    // is set, else to ShowException; anything not an Exception shows with empty text.
    void HandleException(TObject* Sender);
    // The standard error box: the title as caption, the error icon, the message as text.
    void ShowException(Exception* E);

    TExceptionEvent OnException;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // Until a title is set, the program's file name without its extension.
    String GetTitle() const;
    void SetTitle(String Value) { FTitle = Value; }
    TForm* GetMainForm() const { return FMainForm; }
    bool GetTerminated() const { return FTerminated; }

public:
    TProperty<TApplication, String, &TApplication::GetTitle, &TApplication::SetTitle> Title{this};
    TReadOnlyProperty<TApplication, TForm*, &TApplication::GetMainForm> MainForm{this};
    TReadOnlyProperty<TApplication, bool, &TApplication::GetTerminated> Terminated{this};

private:
    bool ProcessMessage();

    String FTitle;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
};

template <class TFormClass>
void TApplication::CreateForm(TFormClass** Reference)
{
    TFormClass* Form = new TFormClass(this);
    if (!FMainForm)
        FMainForm = Form;
    *Reference = Form;
}

extern TApplication* Application;

#include <Forms.hpp>
#include <ComCtrls.hpp>
#include <StdCtrls.hpp>
#include <algorithm>

namespace
{
    TWinControl* CreateControl(const String& ClassName, TComponent* Owner)
    {
        if (ClassName == L"TListView")
            return new TListView(Owner);
        if (ClassName == L"TButton")
            return new TButton(Owner);
        if (ClassName == L"TCheckBox")
            return new TCheckBox(Owner);
        throw Exception(Format(L"Class %s not found", {ClassName}));
    }

    void RegisterFormClass(const wchar_t* ClassName, WNDPROC WndProc, TColor Color)
    {
        const HINSTANCE Instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW Class = {};
        Class.cbSize = sizeof(Class);
        if (GetClassInfoExW(Instance, ClassName, &Class))
            return;
        Class.style = CS_DBLCLKS;
        Class.lpfnWndProc = WndProc;
        Class.hInstance = Instance;
        Class.hIcon = LoadIconW(Instance, L"MAINICON");
        Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        Class.hbrBackground = GetSysColorBrush((Color & 0xFF000000) ? Color & 0xFF : COLOR_BTNFACE);
        Class.lpszClassName = ClassName;
        if (!RegisterClassExW(&Class))
            throw Exception(Format(L"Unable to register the window class %s", {ClassName}));
    }

    TApplication DefaultApplication(nullptr);

    void HandleWithApplication(TObject* Sender)
    {
        Application->HandleException(Sender);
    }
}

TApplication* Application = &DefaultApplication;

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {}

TForm::~TForm()
{
    // The controls' windows go before the form's, which would take them along.
    DestroyComponents();
}

void TForm::ReadForm(const TFormResource& Resource, const TFieldBinder& BindField, const TMethodFinder& FindMethod)
{
    const int Dpi = ScreenPixelsPerInch();
    const int Ppi = Resource.PixelsPerInch;
    Name = Resource.Name;
    Caption = Resource.Caption;
    FLeft = MulDiv(Resource.Left, Dpi, Ppi);
    FTop = MulDiv(Resource.Top, Dpi, Ppi);

    RECT Frame = {0, 0, MulDiv(Resource.ClientWidth, Dpi, Ppi), MulDiv(Resource.ClientHeight, Dpi, Ppi)};
    FBorderStyle = Resource.BorderStyle;
    FBorderIcons = Resource.BorderIcons;
    TCreateParams Params;
    CreateParams(Params);
    AdjustWindowRectEx(&Frame, Params.Style, FALSE, Params.ExStyle);
    FWidth = Frame.right - Frame.left;
    FHeight = Frame.bottom - Frame.top;
    if (Resource.Position == poScreenCenter)
    {
        FLeft = (GetSystemMetrics(SM_CXSCREEN) - FWidth) / 2;
        FTop = (GetSystemMetrics(SM_CYSCREEN) - FHeight) / 2;
    }

    FFont.reset(CreateFontW(MulDiv(Resource.Font.Height, Dpi, Ppi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            Resource.Font.Charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, Resource.Font.Name));
    RegisterFormClass(Resource.ClassName, FormWndProc, Resource.Color);
    FClassName = Resource.ClassName;
    CreateHandle();

    std::vector<const TControlResource*> InTabOrder;
    for (const TControlResource& Control : Resource.Controls)
        InTabOrder.push_back(&Control);
    std::stable_sort(InTabOrder.begin(), InTabOrder.end(),
                     [](const TControlResource* A, const TControlResource* B) { return A->TabOrder < B->TabOrder; });
    for (const TControlResource* Entry : InTabOrder)
    {
        TWinControl* Control = CreateControl(Entry->ClassName, this);
        Control->ReadResource(*Entry, Ppi);
        if (!BindField(Control->Name, Control))
            throw Exception(Format(L"Invalid class type for field %s", {Control->Name}));
        const std::pair<const wchar_t*, TNotifyEvent*> Events[] = {{Entry->OnClick, &Control->OnClick},
                                                                   {Entry->OnDblClick, &Control->OnDblClick}};
        for (const auto& [MethodName, Event] : Events)
        {
            if (!MethodName)
                continue;
            *Event = FindMethod(MethodName);
            if (!*Event)
                throw Exception(Format(L"Method '%s' not found", {MethodName}));
        }
        Control->Parent = this;
    }
}

void TForm::CreateParams(TCreateParams& Params)
{
    Params.WinClassName = FClassName.c_str();
    Params.Style = WS_CLIPCHILDREN;
    Params.ExStyle = WS_EX_CONTROLPARENT;
    switch (FBorderStyle)
    {
    case bsNone:
        Params.Style |= WS_POPUP;
        break;
    case bsSingle:
        Params.Style |= WS_CAPTION | WS_BORDER;
        break;
    case bsSizeable:
        Params.Style |= WS_CAPTION | WS_THICKFRAME;
        break;
    case bsDialog:
        Params.Style |= WS_POPUP | WS_CAPTION;
        Params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
        break;
    }
    if (FBorderStyle != bsNone)
    {
        if (FBorderIcons & biSystemMenu)
            Params.Style |= WS_SYSMENU;
        if (FBorderIcons & biMinimize)
            Params.Style |= WS_MINIMIZEBOX;
        if (FBorderIcons & biMaximize)
            Params.Style |= WS_MAXIMIZEBOX;
    }
    Params.X = FLeft;
    Params.Y = FTop;
    Params.Width = FWidth;
    Params.Height = FHeight;
}

bool TForm::GetVisible() const
{
    return HandleAllocated() && IsWindowVisible(Handle);
}

void TForm::SetVisible(bool Value)
{
    ShowWindow(Handle, Value ? SW_SHOWNORMAL : SW_HIDE);
    if (Value)
        UpdateWindow(Handle);
}

void TForm::Show()
{
    Visible = true;
}

void TForm::Hide()
{
    Visible = false;
}

void TForm::Close()
{
    if (Application->MainForm == this)
        Application->Terminate();
    else
        Hide();
}

TWinControl* TForm::FindControl(HWND Window) const
{
    for (int i = 0; i < ComponentCount; ++i)
        if (auto* Control = dynamic_cast<TWinControl*>(Components[i]); Control && Control->Handle == Window)
            return Control;
    return nullptr;
}

LRESULT CALLBACK TForm::FormWndProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message == WM_NCCREATE)
    {
        const auto* Create = reinterpret_cast<const CREATESTRUCTW*>(LParam);
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Create->lpCreateParams));
    }
    auto* Form = static_cast<TForm*>(FromHandle(Window));
    if (!Form)
        return DefWindowProcW(Window, Message, WParam, LParam);
    try
    {
        return Form->WndProc(Window, Message, WParam, LParam);
    }
    catch (...)
    {
        ApplicationHandleException(Form);
        return 0;
    }
}

LRESULT TForm::WndProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    switch (Message)
    {
    case WM_COMMAND:
        if (TWinControl* Control = FindControl(reinterpret_cast<HWND>(LParam)))
        {
            Control->WMCommand(HIWORD(WParam));
            return 0;
        }
        break;
    case WM_NOTIFY:
    {
        auto* Header = reinterpret_cast<NMHDR*>(LParam);
        if (TWinControl* Control = FindControl(Header->hwndFrom))
            return Control->WMNotify(Header);
        break;
    }
    case WM_CLOSE:
        Close();
        return 0;
    }
    return DefWindowProcW(Window, Message, WParam, LParam);
}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner)
{
    ApplicationHandleException = HandleWithApplication;
}

TApplication::~TApplication()
{
    DestroyComponents();
}

void TApplication::Initialize()
{
    INITCOMMONCONTROLSEX Classes = {sizeof(Classes), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&Classes);
    if (InitProc)
        InitProc();
}

void TApplication::Run()
{
    if (FMainForm)
        FMainForm->Show();
    while (!FTerminated)
        if (!ProcessMessage())
            WaitMessage();
}

void TApplication::ProcessMessages()
{
    while (ProcessMessage())
    {
    }
}

bool TApplication::ProcessMessage()
{
    MSG Msg;
    if (!PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (Msg.message == WM_QUIT)
    {
        FTerminated = true;
        return true;
    }
    // Tab and the arrow keys move between a form's controls.
    const HWND Active = GetActiveWindow();
    if (Active && IsDialogMessageW(Active, &Msg))
        return true;
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
    return true;
}

void TApplication::Terminate()
{
    PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender)
{
    try
    {
        throw;
    }
    catch (Exception& E)
    {
        if (OnException)
            OnException(Sender, &E);
        else
            ShowException(&E);
    }
    catch (...)
    {
        Exception E(L"");
        if (OnException)
            OnException(Sender, &E);
        else
            ShowException(&E);
    }
}

String TApplication::GetTitle() const
{
    if (!FTitle.IsEmpty())
        return FTitle;
    wchar_t Path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, Path, MAX_PATH);
    String Name = wcsrchr(Path, L'\\') ? wcsrchr(Path, L'\\') + 1 : Path;
    return Name.substr(0, Name.rfind(L'.'));
}

void TApplication::ShowException(Exception* E)
{
    const String Caption = Title;
    MessageBoxW(FMainForm ? static_cast<HWND>(FMainForm->Handle) : nullptr, E->Message.c_str(), Caption.c_str(),
                MB_OK | MB_ICONSTOP);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent == FMainForm)
        FMainForm = nullptr;
}

#include <ComCtrls.hpp>

namespace
{
    // The state image of an item with check boxes: 1 unticked, 2 ticked.
    UINT CheckStateImage(bool Checked)
    {
        return INDEXTOSTATEIMAGEMASK(Checked ? 2 : 1);
    }
}

TListItem::TListItem(TListItems* AOwner) : FOwner(AOwner) {}

int TListItem::GetIndex() const
{
    const auto& Items = FOwner->FItems;
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i].get() == this)
            return static_cast<int>(i);
    return -1;
}

void TListItem::SetCaption(String Value)
{
    FCaption = Value;
    LVITEMW Item = {};
    Item.iSubItem = 0;
    Item.pszText = FCaption.data();
    SendMessageW(FOwner->Owner->Handle, LVM_SETITEMTEXTW, GetIndex(), reinterpret_cast<LPARAM>(&Item));
}

bool TListItem::GetChecked() const
{
    const LRESULT State =
        SendMessageW(FOwner->Owner->Handle, LVM_GETITEMSTATE, GetIndex(), LVIS_STATEIMAGEMASK);
    return (static_cast<UINT>(State) & LVIS_STATEIMAGEMASK) == CheckStateImage(true);
}

void TListItem::SetChecked(bool Value)
{
    LVITEMW Item = {};
    Item.stateMask = LVIS_STATEIMAGEMASK;
    Item.state = CheckStateImage(Value);
    SendMessageW(FOwner->Owner->Handle, LVM_SETITEMSTATE, GetIndex(), reinterpret_cast<LPARAM>(&Item));
}

TListItem* TListItems::Add()
{
    LVITEMW Native = {};
    Native.mask = LVIF_TEXT | LVIF_STATE;
    Native.iItem = GetCount();
    Native.pszText = const_cast<wchar_t*>(L"");
    Native.stateMask = LVIS_STATEIMAGEMASK;
    Native.state = CheckStateImage(false);
    const LRESULT Index = SendMessageW(Owner->Handle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&Native));
    if (Index != GetCount())
        throw EListError(L"Unable to insert an item");
    FItems.push_back(std::make_unique<TListItem>(this));
    return FItems.back().get();
}

void TListItems::Delete(int Index)
{
    GetItem(Index);
    SendMessageW(Owner->Handle, LVM_DELETEITEM, Index, 0);
    FItems.erase(FItems.begin() + Index);
}

void TListItems::Clear()
{
    SendMessageW(Owner->Handle, LVM_DELETEALLITEMS, 0, 0);
    FItems.clear();
}

TListItem* TListItems::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount())
        throw EListError(Format(L"List index out of bounds (%s)", {std::to_wstring(Index)}));
    return FItems[Index].get();
}

TListView::TListView(TComponent* AOwner) : TWinControl(AOwner)
{
    static const bool Registered = [] {
        INITCOMMONCONTROLSEX Classes = {sizeof(Classes), ICC_LISTVIEW_CLASSES};
        return InitCommonControlsEx(&Classes) != FALSE;
    }();
    (void)Registered;
}

TListView::~TListView()
{
    if (HandleAllocated())
        RemoveWindowSubclass(Handle, SubclassProc, 0);
}

void TListView::ReadResource(const TControlResource& Resource, int PixelsPerInch)
{
    TWinControl::ReadResource(Resource, PixelsPerInch);
    FViewStyle = Resource.ViewStyle;
    FCheckboxes = Resource.Checkboxes;
    FColumns.clear();
    for (int Width : Resource.Columns)
        FColumns.push_back(MulDiv(Width, ScreenPixelsPerInch(), PixelsPerInch));
    FShowColumnHeaders = Resource.ShowColumnHeaders;
    FReadOnly = Resource.ReadOnly;
    FRowSelect = Resource.RowSelect;
}

void TListView::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    static const DWORD ViewStyles[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
    Params.WinClassName = WC_LISTVIEWW;
    Params.Style |= WS_TABSTOP | LVS_SINGLESEL | LVS_SHAREIMAGELISTS | ViewStyles[FViewStyle];
    if (!FShowColumnHeaders)
        Params.Style |= LVS_NOCOLUMNHEADER;
    if (!FReadOnly)
        Params.Style |= LVS_EDITLABELS;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TListView::CreateWnd()
{
    SetWindowSubclass(Handle, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
    DWORD ExStyle = 0;
    if (FCheckboxes)
        ExStyle |= LVS_EX_CHECKBOXES;
    if (FRowSelect)
        ExStyle |= LVS_EX_FULLROWSELECT;
    SendMessageW(Handle, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT, ExStyle);
    for (size_t i = 0; i < FColumns.size(); ++i)
    {
        LVCOLUMNW Column = {};
        Column.mask = LVCF_WIDTH;
        Column.cx = FColumns[i];
        SendMessageW(Handle, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&Column));
    }
}

LRESULT TListView::WMNotify(NMHDR* Header)
{
    if (Header->code == NM_CLICK)
        FClicked = true;
    else if (Header->code == NM_DBLCLK)
        FDblClicked = true;
    return 0;
}

LRESULT CALLBACK TListView::SubclassProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                         DWORD_PTR Self)
{
    const LRESULT Result = DefSubclassProc(Window, Message, WParam, LParam);
    if (Message != WM_LBUTTONDOWN && Message != WM_LBUTTONUP && Message != WM_LBUTTONDBLCLK)
        return Result;
    auto* ListView = reinterpret_cast<TListView*>(Self);
    try
    {
        if (std::exchange(ListView->FClicked, false))
            ListView->Click();
        if (std::exchange(ListView->FDblClicked, false))
            ListView->DblClick();
    }
    catch (...)
    {
        if (ApplicationHandleException)
            ApplicationHandleException(ListView);
    }
    return Result;
}

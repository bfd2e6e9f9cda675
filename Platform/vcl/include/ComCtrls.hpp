// The list view with its items.
#pragma once

#include <Controls.hpp>
#include <memory>

class TListView;
class TListItems;

class TListItem : public TObject
{
public:
    explicit TListItem(TListItems* AOwner);

protected:
    String GetCaption() const { return FCaption; }
    void SetCaption(String Value);
    bool GetChecked() const;
    void SetChecked(bool Value);
    int GetIndex() const;

private:
    TListItems* const FOwner;
    String FCaption;
    TStringList FSubItems;

public:
    TProperty<TListItem, String, &TListItem::GetCaption, &TListItem::SetCaption> Caption{this};
    // Ticking by program raises no event of the list view.
    TProperty<TListItem, bool, &TListItem::GetChecked, &TListItem::SetChecked> Checked{this};
    TReadOnlyProperty<TListItem, int, &TListItem::GetIndex> Index{this};
    // Kept with the item; a list view with one column never shows them.
    TStrings* const SubItems = &FSubItems;
};

class TListItems : public TObject
{
public:
    explicit TListItems(TListView* AOwner) : Owner(AOwner) {}

    // Appends an unticked item with an empty caption.
    TListItem* Add();
    // Every later item moves one position up.
    void Delete(int Index);
    void Clear();

    TListView* const Owner;

protected:
    int GetCount() const { return static_cast<int>(FItems.size()); }
    TListItem* GetItem(int Index) const;

public:
    TReadOnlyProperty<TListItems, int, &TListItems::GetCount> Count{this};
    TIndexedProperty<TListItems, TListItem*, &TListItems::GetItem> Item{this};

private:
    friend class TListItem;
    std::vector<std::unique_ptr<TListItem>> FItems;
};

// OnClick and OnDblClick come from the mouse only, and once the control has
// finished with the click: a click on an item's check box has then flipped the tick.
class TListView : public TWinControl
{
public:
    explicit TListView(TComponent* AOwner);
    ~TListView() override;

    void ReadResource(const TControlResource& Resource, int PixelsPerInch) override;
    LRESULT WMNotify(NMHDR* Header) override;

private:
    TListItems FItems{this};

public:
    TListItems* const Items = &FItems;

protected:
    void CreateParams(TCreateParams& Params) override;
    void CreateWnd() override;

private:
    static LRESULT CALLBACK SubclassProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                         DWORD_PTR Self);
    bool FClicked = false;
    bool FDblClicked = false;
    TViewStyle FViewStyle = vsIcon;
    bool FCheckboxes = false;
    std::vector<int> FColumns;
    bool FShowColumnHeaders = true;
    bool FReadOnly = false;
    bool FRowSelect = false;
};

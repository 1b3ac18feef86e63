// The device list: free players behind tick boxes, laid out for their number.
#include "manager/win32/TargetListDlg.h"

#include <algorithm>

#include "common/text/Format.h"
#include "common/win32/Text.h"
#include "manager/win32/Resource.h"

namespace manager {

namespace {

constexpr int kItemHeight = 22;
constexpr int kExtentPadding = 22;
constexpr int kOkWidth = 207;
constexpr int kOkHeight = 20;
// The list's top-left corner: under the label, 25 pixels above the OK button at any height.
constexpr int kListX = 22;
constexpr int kListY = 30;

void SetBorder(HWND list, bool border) {
    LONG_PTR style = GetWindowLongPtrW(list, GWL_STYLE);
    style = border ? (style | WS_BORDER) : (style & ~static_cast<LONG_PTR>(WS_BORDER));
    SetWindowLongPtrW(list, GWL_STYLE, style);
}

} // namespace

TargetListDlg::TargetListDlg(const TargetTable& table, const TaskbarFreeArea& area)
    : CSkinnedDialog(IDD_TARGET_LIST), table_(table), area_(area) {}

bool TargetListDlg::OnInitDialog() {
    LoadBackground(IDB_TARGET_LIST_BACK);
    MakeFont(IDC_TARGET_LIST, 14, 7, nullptr, {IDC_TARGET_LIST, IDOK, IDCANCEL, IDC_SELECT_LABEL});
    SetTransparentItems({IDOK, IDCANCEL, IDC_SELECT_LABEL});
    SetFieldItems({IDC_TARGET_LIST});
    SetItemText(IDC_SELECT_LABEL, L"Select Device:");
    PlaceItem(IDC_SELECT_LABEL, kListX, 8, 200, 18);
    AttachButton(ok_, IDOK, L"OK", IDB_WIDE_NORMAL, IDB_WIDE_HOVER, IDB_WIDE_PRESSED);
    AttachCloseBox(close_, IDCANCEL);
    SetClosesAsCancel();

    const HWND list = Item(IDC_TARGET_LIST);
    list_.Attach(list);
    SetBorder(list, true);
    LONG_PTR exStyle = GetWindowLongPtrW(list, GWL_EXSTYLE);
    exStyle = (exStyle & ~static_cast<LONG_PTR>(WS_EX_CLIENTEDGE)) | WS_EX_TRANSPARENT;
    SetWindowLongPtrW(list, GWL_EXSTYLE, exStyle);
    SetWindowPos(list, nullptr, 0, 0, 325, 117,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    Fill();
    return true;
}

void TargetListDlg::Fill() {
    list_.Reset();
    const DeviceListLayout layout = LayOutDeviceList(table_);
    slots_ = layout.slots;
    const HWND list = list_.Handle();
    int widest = 0;
    {
        const HDC dc = GetDC(list);
        const HGDIOBJ old = SelectObject(dc, Font());
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        for (std::size_t position = 0; position < slots_.size(); ++position) {
            const TargetEntry& entry = table_.entries[static_cast<std::size_t>(slots_[position])];
            const std::wstring item = win32::ToWide(text::Format(u"%s\n", entry.deviceName));
            list_.InsertItem(static_cast<int>(position), item);
            SendMessageW(list, LB_SETITEMHEIGHT, position, kItemHeight);
            SIZE size{};
            GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(item.size()), &size);
            widest = std::max(widest, static_cast<int>(size.cx + metrics.tmAveCharWidth));
        }
        SelectObject(dc, old);
        ReleaseDC(list, dc);
    }
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + kExtentPadding), 0);

    SetBorder(list, layout.listBorder);
    SetWindowPos(list, nullptr, kListX, kListY, layout.listWidth, layout.listHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    PlaceItem(IDOK, layout.okX, layout.okY, kOkWidth, kOkHeight);
    PlaceAtCorner(area_, kPopupWidth, layout.dialogHeight);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
}

bool TargetListDlg::OnCommand(int id, int code, HWND control) {
    if (id != IDOK)
        return CSkinnedDialog::OnCommand(id, code, control);
    const LRESULT position = SendMessageW(list_.Handle(), LB_GETCURSEL, 0, 0);
    result_ = -1;
    if (position != LB_ERR && static_cast<std::size_t>(position) < slots_.size())
        result_ = slots_[static_cast<std::size_t>(position)];
    End(IDOK);
    return true;
}

bool RunTargetList(HWND owner, const TargetTable& table, const TaskbarFreeArea& area, int& index,
                   TargetListDlg** open) {
    TargetListDlg dialog(table, area);
    if (open != nullptr)
        *open = &dialog;
    const INT_PTR result = dialog.DoModal(owner);
    if (open != nullptr)
        *open = nullptr;
    index = dialog.Result();
    return result == IDOK;
}

} // namespace manager

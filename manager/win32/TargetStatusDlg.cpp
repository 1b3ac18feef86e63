// The status popup: its fields by the session's state, placement and "Stop Streaming".
#include "manager/win32/TargetStatusDlg.h"

#include "common/win32/Text.h"
#include "manager/win32/ManagerMessages.h"
#include "manager/win32/Resource.h"

namespace manager {

TargetStatusDlg::TargetStatusDlg(HWND mainDialog)
    : CSkinnedDialog(IDD_TARGET_STATUS), mainDialog_(mainDialog) {}

bool TargetStatusDlg::OnInitDialog() {
    LoadBackground(IDB_TARGET_STATUS_BACK);
    MakeFont(IDC_STATUS_DEVICE, 14, 7, nullptr,
             {IDC_STATUS_DEVICE, IDC_STATUS_TEXT, IDC_DEVICE_LABEL, IDC_STATUS_LABEL});
    SetTransparentItems({IDOK, IDC_STOP_STREAMING, IDC_DEVICE_LABEL, IDC_STATUS_LABEL});
    SetFieldItems({IDC_STATUS_DEVICE, IDC_STATUS_TEXT});
    SetItemText(IDC_DEVICE_LABEL, L"Device:");
    SetItemText(IDC_STATUS_LABEL, L"Status:");
    AttachButton(stop_, IDC_STOP_STREAMING, L"Stop Streaming", IDB_WIDE_NORMAL, IDB_WIDE_HOVER,
                 IDB_WIDE_PRESSED);
    AttachCloseBox(close_, IDOK);
    PlaceItem(IDC_DEVICE_LABEL, 26, 24, 70, 16);
    PlaceItem(IDC_STATUS_DEVICE, 100, 22, 240, 20);
    PlaceItem(IDC_STATUS_LABEL, 26, 48, 70, 16);
    PlaceItem(IDC_STATUS_TEXT, 100, 46, 240, 20);
    PlaceItem(IDC_STOP_STREAMING, 80, 72, 207, 20);
    return false;
}

void TargetStatusDlg::Refresh(const SessionDisplay& display, const TaskbarFreeArea& area,
                              const ListLineReader& readListLine) {
    display_ = display;
    area_ = area;
    const int width = width_ != 0 ? width_ : kPopupWidth;
    const int height = height_ != 0 ? height_ : kStatusHeight;
    PlaceAtCorner(area_, width, height);

    StatusValues values;
    values.connected = display_.connected;
    values.playing = display_.playing;
    values.deviceName = display_.deviceName;
    values.addressText = display_.addressText;
    values.fileIndex = display_.fileIndex;
    values.mediaType = display_.mediaType;
    const StatusTexts texts = MakeStatusTexts(values, readListLine);
    SetItemText(IDC_STATUS_DEVICE, win32::AsWide(texts.device));
    SetItemText(IDC_STATUS_TEXT, win32::AsWide(texts.status));
    ShowWindow(Item(IDC_STOP_STREAMING), texts.showStop ? SW_SHOW : SW_HIDE);

    if (IsVisible())
        ShowWindow(Handle(), SW_HIDE);
    ShowWindow(Handle(), SW_SHOW);
}

void TargetStatusDlg::Hide() {
    if (Handle() != nullptr)
        ShowWindow(Handle(), SW_HIDE);
}

bool TargetStatusDlg::OnCommand(int id, int, HWND) {
    if (id == IDC_STOP_STREAMING) {
        Hide();
        PostMessageW(mainDialog_, WM_STOP_STREAMING, 0, 0);
        return true;
    }
    if (id == IDOK || id == IDCANCEL) {
        Hide();
        return true;
    }
    return false;
}

std::optional<LRESULT> TargetStatusDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        Hide();
        return 0;
    }
    return CSkinnedDialog::OnMessage(message, wParam, lParam);
}

} // namespace manager

// The access-code popup: its texts, bitmaps and layout, the 8-character field, OK and cancel.
#include "manager/win32/ActiveCodeDlg.h"

#include "common/text/DebugPrint.h"
#include "common/win32/Text.h"
#include "manager/core/ControlPacket.h"
#include "manager/win32/Resource.h"

namespace manager {

namespace {

constexpr int kWidth = 369;
constexpr int kHeight = 100;

} // namespace

ActiveCodeDlg::ActiveCodeDlg(const TaskbarFreeArea& area, std::u16string addressText,
                             std::u16string deviceName)
    : CSkinnedDialog(IDD_ACTIVE_CODE), area_(area), addressText_(std::move(addressText)),
      deviceName_(std::move(deviceName)) {}

bool ActiveCodeDlg::OnInitDialog() {
    LoadBackground(IDB_ACTIVE_CODE_BACK);
    MakeFont(IDC_PIN_CODE, -12, 0, L"Microsoft Sans Serif", {IDC_DEVICE_LABEL, IDC_PIN_LABEL});
    LOGFONTW font{};
    GetObjectW(Font(), sizeof(font), &font);
    text::DebugPrint(u"lf= %d ,%d ,%d ,%d ,%s", static_cast<int>(font.lfWidth),
                     static_cast<int>(font.lfHeight), static_cast<int>(font.lfWeight),
                     static_cast<int>(font.lfPitchAndFamily), win32::AsU16(font.lfFaceName));
    SetTransparentItems({IDOK, IDCANCEL, IDC_DEVICE_LABEL, IDC_PIN_LABEL});

    SetItemText(IDC_CODE_DEVICE,
                win32::AsWide(text::Format(u"%s [%s]", deviceName_, addressText_)));
    SetItemText(IDC_PIN_CODE, L"");
    SetItemText(IDC_DEVICE_LABEL, L"Device:");
    SetItemText(IDC_PIN_LABEL, L"Pin Code:");
    AttachButton(ok_, IDOK, L"OK", IDB_OK_NORMAL, IDB_OK_HOVER, IDB_OK_PRESSED);
    AttachCloseBox(close_, IDCANCEL);
    SetClosesAsCancel();

    PlaceItem(IDOK, 270, 60, 60, 20);
    // The labels keep their template size.
    SetWindowPos(Item(IDC_DEVICE_LABEL), nullptr, 26, 36, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceItem(IDC_CODE_DEVICE, 100, 36, 230, 20);
    SetWindowPos(Item(IDC_PIN_LABEL), nullptr, 26, 60, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceItem(IDC_PIN_CODE, 100, 60, 156, 20);
    OnShown();
    return true;
}

void ActiveCodeDlg::OnShown() {
    PlaceAtCorner(area_, kWidth, kHeight);
    accepted_ = false;
    SendMessageW(Item(IDC_PIN_CODE), EM_LIMITTEXT, kAccessCodeSize, 0);
}

bool ActiveCodeDlg::OnCommand(int id, int code, HWND control) {
    if (id != IDOK)
        return CSkinnedDialog::OnCommand(id, code, control);
    accepted_ = true;
    char buffer[kCodeBufferBytes] = {};
    GetWindowTextA(Item(IDC_PIN_CODE), buffer, static_cast<int>(sizeof(buffer)));
    code_ = buffer;
    End(IDOK);
    return true;
}

std::optional<LRESULT> ActiveCodeDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SHOWWINDOW && wParam != FALSE) {
        OnShown();
        return std::nullopt;
    }
    return CSkinnedDialog::OnMessage(message, wParam, lParam);
}

bool RunAccessCodePrompt(HWND owner, const TaskbarFreeArea& area, const SessionDisplay& display,
                         std::string& code, ActiveCodeDlg** open, std::size_t capacity) {
    ActiveCodeDlg dialog(area, display.addressText, display.deviceName);
    if (open != nullptr)
        *open = &dialog;
    dialog.DoModal(owner);
    if (open != nullptr)
        *open = nullptr;
    if (!dialog.Accepted())
        return false;
    // Copied as it is: no character of the code means anything here.
    code = dialog.EnteredCode().substr(0, capacity == 0 ? 0 : capacity - 1);
    if (code.size() > kAccessCodeSize)
        code.resize(kAccessCodeSize);
    return true;
}

} // namespace manager

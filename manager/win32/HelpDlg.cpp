// The help window: the help file's text as the core assembles it, black on white.
#include "manager/win32/HelpDlg.h"

#include <string>

#include "common/platform/FileSystem.h"
#include "common/text/Format.h"
#include "common/win32/Text.h"
#include "manager/core/HelpText.h"
#include "manager/core/PortText.h"
#include "manager/win32/Resource.h"

namespace manager {

namespace {

constexpr int kSize = 480;

bool ReadWholeFile(const std::u16string& path, std::string& bytes) {
    platform::File file = platform::File::Open(path, platform::OpenOptions{});
    if (!file.IsOpen())
        return false;
    std::uint64_t size = 0;
    if (!file.GetSize(size) || size > 0x7FFFFFFF)
        return true; // opened, nothing shown
    bytes.resize(static_cast<std::size_t>(size));
    std::uint32_t read = 0;
    if (!bytes.empty() && !file.Read(bytes.data(), static_cast<std::uint32_t>(size), read))
        read = 0;
    bytes.resize(read);
    return true;
}

} // namespace

void ShowSystemErrorBox(HWND owner, std::u16string_view text) {
    MessageBoxW(owner, win32::ToWide(text).c_str(), L"ERROR", MB_OK | MB_ICONERROR);
}

HelpDlg::HelpDlg(std::u16string helpPath, ErrorBox errorBox)
    : CDialog(IDD_HELP), helpPath_(std::move(helpPath)), errorBox_(std::move(errorBox)) {
    if (!errorBox_)
        errorBox_ = ShowSystemErrorBox;
}

bool HelpDlg::OnInitDialog() {
    white_.Reset(CreateSolidBrush(RGB(255, 255, 255)));
    SetWindowTextW(Handle(), L"Help");
    SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - kSize) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - kSize) / 2, kSize, kSize,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(Handle(), &client);
    PlaceItem(IDC_HELP_TEXT, 0, 0, client.right, client.bottom);
    LoadText();
    // The text opens at its start with nothing selected (the default focus would select all).
    SetFocus(Item(IDC_HELP_TEXT));
    SendMessageW(Item(IDC_HELP_TEXT), EM_SETSEL, 0, 0);
    return false;
}

void HelpDlg::LoadText() {
    std::string bytes;
    if (!ReadWholeFile(helpPath_, bytes)) {
        errorBox_(Handle(),
                  text::FormatCut(kErrorTextUnits, u"%s %s\n", u"Fail to Open File:", helpPath_));
        return;
    }
    const std::u16string text = AssembleHelpText(bytes);
    SetItemText(IDC_HELP_TEXT, win32::AsWide(text));
}

bool HelpDlg::OnCommand(int id, int, HWND) {
    if (id == IDOK || id == IDCANCEL) {
        End(id);
        return true;
    }
    return false;
}

std::optional<LRESULT> HelpDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_CTLCOLORSTATIC) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(white_.Get());
    }
    return std::nullopt;
}

} // namespace manager

// The dialog layer: the dialog procedure that finds its object, reflection to subclassed
// controls, and the controls' subclass procedure.
#include "manager/win32/Dialog.h"

#include <commctrl.h>

#include <string>

namespace manager {

namespace {

constexpr UINT_PTR kSubclassId = 0x4C56; // one subclass of ours per window
// The control object of a subclassed window (MinGW's comctl32 has no GetWindowSubclass).
constexpr wchar_t kControlProperty[] = L"Lumavert.CControl";

// Messages whose result is the dialog procedure's return value itself, not DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

bool IsColourRequest(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

} // namespace

HINSTANCE ResourceInstance() {
    return GetModuleHandleW(nullptr);
}

CControl::~CControl() {
    Detach();
}

bool CControl::Attach(HWND window) {
    Detach();
    if (window == nullptr ||
        !SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    window_ = window;
    SetPropW(window, kControlProperty, this);
    OnAttached();
    return true;
}

void CControl::Detach() {
    if (window_ == nullptr)
        return;
    RemovePropW(window_, kControlProperty);
    RemoveWindowSubclass(window_, SubclassProc, kSubclassId);
    window_ = nullptr;
}

CControl* CControl::FromHandle(HWND window) {
    if (window == nullptr)
        return nullptr;
    return static_cast<CControl*>(GetPropW(window, kControlProperty));
}

LRESULT CControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return Default(message, wParam, lParam);
}

LRESULT CControl::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(window_, message, wParam, lParam);
}

LRESULT CALLBACK CControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR data) {
    auto* control = reinterpret_cast<CControl*>(data);
    if (message == WM_NCDESTROY) {
        RemovePropW(window, kControlProperty);
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        control->window_ = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return control->WindowProc(message, wParam, lParam);
}

CDialog::CDialog(int templateId, HINSTANCE instance)
    : templateId_(templateId), instance_(instance != nullptr ? instance : ResourceInstance()) {}

CDialog::~CDialog() {
    if (window_ != nullptr && !modal_)
        DestroyWindow(window_);
}

INT_PTR CDialog::DoModal(HWND owner) {
    modal_ = true;
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND owner) {
    modal_ = false;
    return CreateDialogParamW(instance_, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::End(INT_PTR result) {
    if (window_ != nullptr)
        EndDialog(window_, result);
}

void CDialog::Destroy() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void CDialog::SetItemText(int id, std::wstring_view text) {
    SetDlgItemTextW(window_, id, std::wstring(text).c_str());
}

void CDialog::PlaceItem(int id, int x, int y, int width, int height) {
    SetWindowPos(Item(id), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::OnCommand(int, int, HWND) {
    return false;
}

std::optional<LRESULT> CDialog::OnMessage(UINT, WPARAM, LPARAM) {
    return std::nullopt;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->window_ = window;
    }
    if (dialog == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->OnDestroyed();
        dialog->window_ = nullptr;
        return FALSE;
    }
    return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    // Reflection: owner-drawn controls draw and measure themselves.
    if (message == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_MENU) {
            if (CControl* control = CControl::FromHandle(item->hwndItem);
                control != nullptr && control->DrawItem(*item))
                return TRUE;
        }
    } else if (message == WM_MEASUREITEM) {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_MENU) {
            if (CControl* control = CControl::FromHandle(Item(static_cast<int>(item->CtlID)));
                control != nullptr && control->MeasureItem(*item))
                return TRUE;
        }
    }

    std::optional<LRESULT> result;
    if (message == WM_INITDIALOG) {
        result = OnInitDialog() ? TRUE : FALSE;
    } else if (message == WM_COMMAND) {
        if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
            result = 0;
    }
    if (!result)
        result = OnMessage(message, wParam, lParam);
    if (!result && IsColourRequest(message)) {
        if (CControl* control = CControl::FromHandle(reinterpret_cast<HWND>(lParam))) {
            if (HBRUSH brush = control->ReflectCtlColor(reinterpret_cast<HDC>(wParam), message))
                result = reinterpret_cast<LRESULT>(brush);
        }
    }
    if (!result)
        return FALSE;
    if (ReturnsDirectly(message))
        return static_cast<INT_PTR>(*result);
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, *result);
    return TRUE;
}

} // namespace manager

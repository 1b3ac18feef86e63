// A small dialog layer over the system's dialog manager: CDialog runs a template modally
// (DialogBoxParamW) or modelessly (CreateDialogParamW) and hands its messages to virtual
// handlers; CControl subclasses one child window and receives what its parent reflects to it
// (owner drawing, item measuring, colour requests).
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace manager {

class CControl {
  public:
    CControl() = default;
    virtual ~CControl();
    CControl(const CControl&) = delete;
    CControl& operator=(const CControl&) = delete;

    // Subclasses `window`; the control then sees its messages first (WindowProc).
    bool Attach(HWND window);
    void Detach();
    HWND Handle() const { return window_; }
    // The control object attached to `window`, if any.
    static CControl* FromHandle(HWND window);

    // Reflected from the parent; true when handled.
    virtual bool DrawItem(const DRAWITEMSTRUCT& item) {
        (void)item;
        return false;
    }
    virtual bool MeasureItem(MEASUREITEMSTRUCT& item) {
        (void)item;
        return false;
    }
    // The colour request of this control (WM_CTLCOLOR...); null when the parent decides.
    virtual HBRUSH ReflectCtlColor(HDC dc, UINT message) {
        (void)dc;
        (void)message;
        return nullptr;
    }

  protected:
    // The subclassed window's messages; the default passes them on.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    // Called once attached, before any message arrives.
    virtual void OnAttached() {}

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    HWND window_ = nullptr;
};

class CDialog {
  public:
    explicit CDialog(int templateId, HINSTANCE instance = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the value given to End, or -1 when it could not be made.
    INT_PTR DoModal(HWND owner);
    // Makes the dialog modeless; false when it could not be made.
    bool Create(HWND owner);
    // Ends a modal dialog with `result`.
    void End(INT_PTR result);
    // Destroys a modeless dialog.
    void Destroy();

    HWND Handle() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    bool IsVisible() const { return window_ != nullptr && IsWindowVisible(window_) != FALSE; }
    void SetItemText(int id, std::wstring_view text);
    // Moves and sizes item `id` in client coordinates.
    void PlaceItem(int id, int x, int y, int width, int height);

  protected:
    // WM_INITDIALOG; true lets the system set the focus.
    virtual bool OnInitDialog() { return true; }
    // WM_COMMAND; true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    // Any message; a value when handled. Colour requests and WM_INITDIALOG-like messages
    // return their value as it is, others through DWLP_MSGRESULT.
    virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The window is going away (WM_NCDESTROY): the handle is forgotten after this.
    virtual void OnDestroyed() {}

    HINSTANCE Instance() const { return instance_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HINSTANCE instance_;
    HWND window_ = nullptr;
    bool modal_ = false;
};

// The executable's instance (resources live in the program that links Lumavert.rc).
HINSTANCE ResourceInstance();

} // namespace manager

// A small modal-dialog framework: one object per dialog resource, run modally, with
// virtual handlers for the messages the wizard pages take.
#pragma once

#include <windows.h>

#include <string>

class CDialog {
public:
    explicit CDialog(UINT templateId) : m_templateId(templateId) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when it cannot be made.
    INT_PTR DoModal(HWND parent = nullptr);
    HWND Hwnd() const { return m_hWnd; }
    UINT TemplateId() const { return m_templateId; }

protected:
    void End(INT_PTR result) { ::EndDialog(m_hWnd, result); }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetText(int id, const std::string& text) { ::SetDlgItemTextA(m_hWnd, id, text.c_str()); }
    std::string Text(int id) const;
    bool Checked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void Check(int id, bool on) { ::CheckDlgButton(m_hWnd, id, on ? BST_CHECKED : BST_UNCHECKED); }
    void Enable(int id, bool on) { ::EnableWindow(Item(id), on ? TRUE : FALSE); }
    void Show(int id, bool on) { ::ShowWindow(Item(id), on ? SW_SHOW : SW_HIDE); }

    // Handlers; the defaults do what the system's dialog handling does.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnCommand(int id, int code);
    virtual void OnOK() { End(IDOK); }
    virtual void OnCancel() { End(IDCANCEL); }
    virtual void OnTimer(UINT_PTR) {}
    virtual bool OnPaint() { return false; }  // true when painted
    virtual bool OnEraseBkgnd(HDC) { return false; }
    virtual HBRUSH OnCtlColor(HDC, HWND) { return nullptr; }  // null: default colours
    virtual HICON OnQueryDragIcon() { return nullptr; }
    virtual void OnDestroy() {}
    // Any other message; true when handled, *result then is the dialog procedure's answer.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) { return false; }

private:
    static INT_PTR CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_hWnd = nullptr;
};

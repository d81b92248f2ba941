#include "ui/win32/modal_dialog.h"

#include "ui/win32/main_window.h"

namespace tarnlink {

ModalDialog::ModalDialog(int templateId, HWND parent)
    : m_templateId(templateId), m_parent(parent) {}

ModalDialog::~ModalDialog() = default;

INT_PTR ModalDialog::DoModal() {
    HWND owner = m_parent != nullptr ? m_parent : mainWindowHandle();
    // A Unicode dialog: its controls take and give their texts in UTF-16, so a path in any
    // script survives (window_text.h).
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner,
                           &ModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND ModalDialog::GetDlgItem(int id) const {
    return m_hWnd != nullptr ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

BOOL ModalDialog::OnInitDialog() {
    return TRUE;
}

void ModalDialog::OnOK() {
    EndDialog(IDOK);
}

void ModalDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

void ModalDialog::EndDialog(INT_PTR code) {
    if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, code);
    }
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ModalDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<ModalDialog*>(lParam);
        dialog->m_hWnd = hWnd;
        SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        // The window exists from here on: if this dialog is the main window, notifications
        // may reach it now.
        mainWindowCreated(dialog, hWnd);
    } else {
        dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (dialog == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT) and after WM_NCDESTROY
    }
    return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
                if (LOWORD(wParam) == IDOK) {
                    OnOK();
                    return TRUE;
                }
                if (LOWORD(wParam) == IDCANCEL) {
                    OnCancel();
                    return TRUE;
                }
            }
            break;
        case WM_DESTROY:
            // From now on no notification may find this window: a worker that is still
            // running must not reach a dialog that is going away.
            mainWindowDestroyed(this);
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
            m_hWnd = nullptr;
            return FALSE;
        default:
            break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result)) {
        return FALSE;
    }
    switch (message) {
        // These few give their result as the dialog procedure's return value.
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_QUERYDRAGICON:
        case WM_VKEYTOITEM:
            return static_cast<INT_PTR>(result);
        default:
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

}  // namespace tarnlink

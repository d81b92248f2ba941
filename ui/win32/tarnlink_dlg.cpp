#include "ui/win32/tarnlink_dlg.h"

#include <commdlg.h>

#include <string>
#include <vector>

#include "platform/utf16_text.h"
#include "transfer/notifications.h"
#include "ui/dialog_texts.h"
#include "ui/resource_ids.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/small_icon.h"
#include "ui/win32/window_text.h"

namespace tarnlink {

static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000,
              "IDM_ABOUTBOX must be a system command with its low 4 bits free");

namespace {

// Longest path the file dialog hands back, in UTF-16 units: the longest that the system's
// file calls take ("\\?\" form, platform/windows_path.h).
constexpr DWORD BROWSE_PATH_CHARS = 32768;

void setShown(HWND control, bool shown) {
    if (control != nullptr) {
        ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
    }
}

}  // namespace

void appendMenuItem(HMENU menu, const char* text, UINT command) {
    if (menu == nullptr || text == nullptr || text[0] == '\0') {
        return;
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command, utf16TextFromUtf8(text).c_str());
}

std::wstring openFileFilter(std::string_view filter) {
    std::wstring result;
    for (const FileFilter& entry : parseFileFilter(filter)) {
        result += utf16TextFromUtf8(entry.name);
        result += L'\0';
        result += utf16TextFromUtf8(entry.pattern);
        result += L'\0';
    }
    result += L'\0';
    return result;
}

CTarnlinkDlg::CTarnlinkDlg(HWND parent) : CTarnlinkDlg(realTransferEngine(), parent) {}

CTarnlinkDlg::CTarnlinkDlg(const TransferEngine& engine, HWND parent)
    : ModalDialog(IDD_MAIN, parent),
      m_engine(engine),
      m_busy(0),
      m_icon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TARNLINK))) {}

// m_icon came from LoadIcon, which shares it: it is not destroyed. The small icon is the
// dialog's own; its window is gone by now (DoModal has returned), so nothing draws it.
CTarnlinkDlg::~CTarnlinkDlg() {
    if (m_smallIcon != nullptr) {
        DestroyIcon(m_smallIcon);
    }
}

BOOL CTarnlinkDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();

    if (HMENU systemMenu = GetSystemMenu(GetSafeHwnd(), FALSE)) {
        wchar_t text[256] = L"";
        LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 256);
        appendMenuItem(systemMenu, utf8FromUtf16(text).c_str(), IDM_ABOUTBOX);
    }

    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    setSmallIcon(smallIconSize(GetSafeHwnd()));

    if (HWND port = GetDlgItem(IDC_COM_PORT)) {
        setWindowText(port, TEXT_INITIAL_COM_PORT);
    }
    return TRUE;  // the dialog manager focuses the first tab stop, "Load Image"
}

bool CTarnlinkDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wParam), lParam);
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
            return true;
        case WM_TRANSFER_DONE:
            result = OnTransferDone(wParam, lParam);
            return true;
        case WM_DPICHANGED:
            // Moved to a monitor of another scale: the small icon of that size. The dialog
            // manager still resizes the dialog and its font.
            setSmallIcon(smallIconSizeForDpi(LOWORD(wParam)));
            return false;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) {
                return false;
            }
            switch (LOWORD(wParam)) {
                case IDC_LOAD:
                    OnBnClickedLoad();
                    return true;
                case IDC_BROWSE:
                    OnBnClickedBrowse();
                    return true;
                case IDC_CRYPT:
                    OnBnClickedCrypt();
                    return true;
                default:
                    return false;
            }
        default:
            return false;
    }
}

bool CTarnlinkDlg::OnSysCommand(UINT nID, LPARAM /*lParam*/) {
    if ((nID & 0xFFF0) != IDM_ABOUTBOX) {
        return false;
    }
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CTarnlinkDlg::OnPaint() {
    if (!IsIconic(GetSafeHwnd())) {
        return false;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(GetSafeHwnd(), &paint);
    SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(GetSafeHwnd(), &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_icon);
    EndPaint(GetSafeHwnd(), &paint);
    return true;
}

HCURSOR CTarnlinkDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_icon);
}

LRESULT CTarnlinkDlg::OnTransferDone(WPARAM wParam, LPARAM /*lParam*/) {
    showStatus(transferDoneMessage(wParam));
    m_busy = 0;
    // The bar keeps its position while hidden; the next transfer shows it until its first
    // progress report.
    applyLook(DialogLook::IDLE);
    return 0;
}

void CTarnlinkDlg::OnBnClickedLoad() {
    startTransfer(TransferKind::DOWNLOAD);
}

void CTarnlinkDlg::OnBnClickedCrypt() {
    startTransfer(TransferKind::CRYPT_READ_BACK);
}

void CTarnlinkDlg::startTransfer(TransferKind kind) {
    HWND pathEdit = GetDlgItem(IDC_IMAGE_PATH);
    HWND portEdit = GetDlgItem(IDC_COM_PORT);
    unsigned checkState = 0;
    if (kind == TransferKind::DOWNLOAD) {
        // Read on every download click, before anything else; the template always has it.
        checkState =
            static_cast<unsigned>(SendMessageW(GetDlgItem(IDC_NO_RESET_VERIFY), BM_GETSTATE, 0, 0));
    }
    const std::string path = windowText(pathEdit);
    const std::string portText = windowText(portEdit);
    const StartDecision decision =
        decideStart(kind, m_busy, pathEdit != nullptr ? &path : nullptr,
                    portEdit != nullptr ? &portText : nullptr, checkState);
    carryOutStart(
        decision, kind, path, m_engine, [this](const char* message) { showStatus(message); },
        [this](DialogLook busyLook) {
            m_busy = 1;
            applyLook(busyLook);
        });
}

void CTarnlinkDlg::applyLook(DialogLook look) {
    const LookOfControls& controls = controlsOf(look);
    HWND load = GetDlgItem(IDC_LOAD);
    HWND crypt = GetDlgItem(IDC_CRYPT);
    if (load != nullptr) {
        setWindowText(load, controls.loadText);
    }
    if (crypt != nullptr) {
        setWindowText(crypt, controls.cryptText);
    }
    setShown(GetDlgItem(IDC_PROGRESS), controls.progressShown);
    setShown(load, controls.loadShown);
    setShown(crypt, controls.cryptShown);
}

void CTarnlinkDlg::setSmallIcon(int size) {
    HICON icon = loadIconOfSize(IDI_TARNLINK, size);
    if (icon == nullptr) {
        return;  // the one the window has stays
    }
    SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (m_smallIcon != nullptr) {
        DestroyIcon(m_smallIcon);
    }
    m_smallIcon = icon;
}

void CTarnlinkDlg::OnBnClickedBrowse() {
    const std::wstring filter = openFileFilter(BROWSE_FILTER);
    HWND pathEdit = GetDlgItem(IDC_IMAGE_PATH);
    if (pathEdit == nullptr) {
        return;
    }
    std::vector<wchar_t> file(BROWSE_PATH_CHARS, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetSafeHwnd();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = BROWSE_PATH_CHARS;
    // Any name may be typed, also one that does not exist yet: the same path names the
    // crypt read-back's output file. The read-only box means nothing here.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (GetOpenFileNameW(&ofn)) {
        SetWindowTextW(pathEdit, file.data());
    }
}

}  // namespace tarnlink

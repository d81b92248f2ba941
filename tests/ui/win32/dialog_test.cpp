// The Win32 main dialog and About box under Wine, on an engine that records the dialog's
// calls (the only stand-in: counting calls needs one). The dialog runs modally on a UI
// thread of its own; the test's thread plays the user (messages to the controls) and the
// worker (the real notifications).

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"
#include "tests/ui/win32/dialog_driver.h"
#include "transfer/notifications.h"
#include "transfer/transfer_context.h"
#include "ui/dialog_template.h"
#include "ui/resource_ids.h"
#include "ui/win32/main_window.h"
#include "ui/win32/tarnlink_dlg.h"

namespace tarnlink::test {
namespace {

constexpr int WAIT_MS = 10000;

struct EngineCall {
    std::string kind;  // "download", "crypt", "cancel"
    std::string path;
    std::string port;
    int skipResetVector = -1;
    // The look when the call came: the busy look must already be there.
    std::string loadText;
    bool cryptShown = false;
    bool loadShown = false;
    bool progressShown = false;
};

std::mutex g_callsMutex;
std::vector<EngineCall> g_calls;

EngineCall callWithLook(std::string kind, std::string path, std::string port, int skip) {
    HWND dialog = mainWindowHandle();
    EngineCall call;
    call.kind = std::move(kind);
    call.path = std::move(path);
    call.port = std::move(port);
    call.skipResetVector = skip;
    call.loadText = windowText(GetDlgItem(dialog, IDC_LOAD));
    call.loadShown = IsWindowVisible(GetDlgItem(dialog, IDC_LOAD)) != FALSE;
    call.cryptShown = IsWindowVisible(GetDlgItem(dialog, IDC_CRYPT)) != FALSE;
    call.progressShown = IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS)) != FALSE;
    return call;
}

void record(EngineCall call) {
    std::lock_guard lock(g_callsMutex);
    g_calls.push_back(std::move(call));
}

std::vector<EngineCall> calls() {
    std::lock_guard lock(g_callsMutex);
    return g_calls;
}

const TransferEngine kRecordingEngine{
    [](const char* image, const char* port, uint8_t skip) {
        record(callWithLook("download", image, port, skip));
    },
    [](const char* output, const char* port) { record(callWithLook("crypt", output, port, -1)); },
    [] { record(callWithLook("cancel", "", "", -1)); },
};

// The window class of each kind of control, lower case.
std::string expectedClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::AutoCheckBox:
            return "button";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::TextLeft:
        case ControlKind::TextRightCentred:
        case ControlKind::Icon:
            return "static";
        case ControlKind::ProgressBar:
            return "msctls_progress32";
    }
    return {};
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Empty when a created control's styles make it what the template says, else what differs.
// The dialog manager turns an edit's WS_BORDER into WS_EX_CLIENTEDGE; a themed progress bar
// drops its border bits and draws its own frame, so its border is not looked at.
std::string styleMismatch(const ControlTemplate& control, HWND window) {
    const auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    std::string out;
    const auto want = [&](DWORD mask, DWORD value, const char* what) {
        if ((style & mask) != value) {
            out += std::string(what) + "; ";
        }
    };
    want(WS_CHILD, WS_CHILD, "WS_CHILD");
    want(WS_VISIBLE, control.visible ? WS_VISIBLE : 0u, "WS_VISIBLE");
    want(WS_DISABLED, control.enabled ? 0u : WS_DISABLED, "WS_DISABLED");
    want(WS_TABSTOP, control.tabStop ? WS_TABSTOP : 0u, "WS_TABSTOP");
    switch (control.kind) {
        case ControlKind::PushButton:
            want(BS_TYPEMASK, BS_PUSHBUTTON, "BS_PUSHBUTTON");
            break;
        case ControlKind::DefPushButton:
            want(BS_TYPEMASK, BS_DEFPUSHBUTTON, "BS_DEFPUSHBUTTON");
            break;
        case ControlKind::AutoCheckBox:
            want(BS_TYPEMASK, BS_AUTOCHECKBOX, "BS_AUTOCHECKBOX");
            break;
        case ControlKind::Edit:
            want(ES_MULTILINE | ES_NUMBER | ES_READONLY, 0, "a single-line edit");
            want(ES_AUTOHSCROLL, ES_AUTOHSCROLL, "ES_AUTOHSCROLL");
            if ((style & WS_BORDER) == 0 && (exStyle & WS_EX_CLIENTEDGE) == 0) {
                out += "a border; ";
            }
            break;
        case ControlKind::TextLeft:
            // Status texts carry '&' ("path & name"): it must show as typed.
            want(SS_TYPEMASK | SS_NOPREFIX, SS_LEFT | SS_NOPREFIX, "SS_LEFT | SS_NOPREFIX");
            break;
        case ControlKind::TextRightCentred:
            want(SS_TYPEMASK | SS_CENTERIMAGE, SS_RIGHT | SS_CENTERIMAGE,
                 "SS_RIGHT | SS_CENTERIMAGE");
            break;
        case ControlKind::ProgressBar:
            break;
        case ControlKind::Icon:
            want(SS_TYPEMASK, SS_ICON, "SS_ICON");
            break;
    }
    return out;
}

// Every control of `dialog` is where, what and how `tmpl` says, in template order (which is
// also the stacking order), mapped with the dialog font's units; the font is 8 points.
void expectFollowsTemplate(HWND dialog, const DialogTemplate& tmpl) {
    EXPECT_EQ(textOf(dialog), tmpl.caption);
    RECT client{0, 0, tmpl.width, tmpl.height};
    MapDialogRect(dialog, &client);
    RECT actualClient;
    GetClientRect(dialog, &actualClient);
    EXPECT_EQ(actualClient.right, client.right);
    EXPECT_EQ(actualClient.bottom, client.bottom);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlTemplate& control : tmpl.controls) {
        SCOPED_TRACE(std::string(tmpl.caption) + ": " + control.name);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), control.id);
        EXPECT_EQ(lowerCase(classOf(child)), expectedClass(control.kind));
        if (control.kind == ControlKind::Icon) {
            EXPECT_NE(SendMessageA(child, STM_GETICON, 0, 0), 0);
        } else if (control.id != IDC_COM_PORT) {  // "1" from OnInitDialog
            EXPECT_EQ(textOf(child), control.text);
        }
        // x, y, width and height are each mapped on their own, as the dialog manager does.
        RECT expected{control.rect.x, control.rect.y, control.rect.width, control.rect.height};
        MapDialogRect(dialog, &expected);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        if (control.kind != ControlKind::Icon) {  // an icon control takes its icon's size
            EXPECT_EQ(actual.right - actual.left, expected.right);
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }
        EXPECT_EQ(styleMismatch(control, child), "");
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
}

// The width of an icon's image in pixels; 0 for no icon.
int iconWidth(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP bitmap{};
    GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

class Win32Dialog : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard lock(g_callsMutex);
            g_calls.clear();
        }
        m_ui = std::make_unique<UiThread>([this] {
            INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
            InitCommonControlsEx(&controls);
            setNotificationTarget(makeMainWindowNotificationTarget());
            CTarnlinkDlg dialog(kRecordingEngine);
            setMainWindow(&dialog);
            m_result = dialog.DoModal();
        });
        ASSERT_TRUE(waitUntil(
            [] { return mainWindowHandle() != nullptr && IsWindowVisible(mainWindowHandle()); },
            WAIT_MS))
            << "the dialog did not open (is there a display?)";
        m_dlg = DialogDriver(mainWindowHandle());
    }
    void TearDown() override {
        m_ui.reset();
        clearNotificationTarget();
    }

    bool idleLook() const {
        return m_dlg.text(IDC_LOAD) == "Load Image" && m_dlg.shown(IDC_LOAD) &&
               m_dlg.text(IDC_CRYPT) == "Crypt Image" && m_dlg.shown(IDC_CRYPT) &&
               !m_dlg.shown(IDC_PROGRESS);
    }
    bool busyLook(bool download) const {
        const int started = download ? IDC_LOAD : IDC_CRYPT;
        const int other = download ? IDC_CRYPT : IDC_LOAD;
        return m_dlg.text(started) == "Cancel" && m_dlg.shown(started) && !m_dlg.shown(other) &&
               m_dlg.shown(IDC_PROGRESS);
    }
    // As a worker ends a transfer: WM_TRANSFER_DONE is posted, the dialog goes idle.
    void deliverDone(uint8_t result) {
        notifyResult(result);
        ASSERT_TRUE(waitUntil([this] { return idleLook(); }, WAIT_MS));
    }
    bool ended(int timeoutMs = WAIT_MS) const { return m_ui->waitFinished(timeoutMs); }

    std::unique_ptr<UiThread> m_ui;
    DialogDriver m_dlg{nullptr};
    INT_PTR m_result = -2;
};

TEST_F(Win32Dialog, StartUpLook) {
    EXPECT_EQ(m_dlg.text(IDC_COM_PORT), "1");
    EXPECT_EQ(m_dlg.text(IDC_IMAGE_PATH), "");
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "");
    EXPECT_EQ(m_dlg.focus(), m_dlg.item(IDC_LOAD));
    EXPECT_TRUE(idleLook());
    EXPECT_EQ(SendMessageA(m_dlg.item(IDC_NO_RESET_VERIFY), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(m_dlg.progressPosition(), 0);
    expectFollowsTemplate(m_dlg.window(), mainDialogTemplate());

    // A fixed size, a minimise box and no maximise box; an application window.
    const auto style = static_cast<DWORD>(GetWindowLongA(m_dlg.window(), GWL_STYLE));
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_SYSMENU | WS_CAPTION),
              DWORD{WS_MINIMIZEBOX | WS_SYSMENU | WS_CAPTION});
    EXPECT_NE(GetWindowLongA(m_dlg.window(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);

    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TARNLINK));
    ASSERT_NE(icon, nullptr);
    HWND dialog = m_dlg.window();
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), icon);
    // The small icon is the icon's own small image, made at the small-icon size, not the
    // big one that the system would scale down.
    HICON small = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(small, icon);
    EXPECT_EQ(iconWidth(small), GetSystemMetrics(SM_CXSMICON));
}

// Moved to a monitor at 150 %: the small icon is made again at that scale's size.
TEST_F(Win32Dialog, SmallIconFollowsTheMonitorsScale) {
    HWND dialog = m_dlg.window();
    RECT suggested;
    GetWindowRect(dialog, &suggested);
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    HICON small = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(iconWidth(small), GetSystemMetricsForDpi(SM_CXSMICON, 144));
    EXPECT_GT(iconWidth(small), GetSystemMetrics(SM_CXSMICON));
}

// Tab walks the visible tab stops in template order; the hidden check box is skipped.
TEST_F(Win32Dialog, TabOrderFollowsTheTemplate) {
    std::vector<int> order;
    HWND item = m_dlg.item(IDC_LOAD);
    do {
        order.push_back(GetDlgCtrlID(item));
        item = GetNextDlgTabItem(m_dlg.window(), item, FALSE);
    } while (item != m_dlg.item(IDC_LOAD) && order.size() < 20);
    EXPECT_EQ(order,
              (std::vector<int>{IDC_LOAD, IDC_IMAGE_PATH, IDC_BROWSE, IDC_COM_PORT, IDC_CRYPT}));
    m_dlg.pressKey(VK_TAB);
    EXPECT_TRUE(waitUntil([this] { return m_dlg.focus() == m_dlg.item(IDC_IMAGE_PATH); }, WAIT_MS));
}

class Win32DialogStart : public Win32Dialog, public ::testing::WithParamInterface<bool> {};

// A start shows its busy look before the engine call; every later click is one cancel and
// nothing else; WM_TRANSFER_DONE brings back the Idle look with the result's message.
TEST_P(Win32DialogStart, StartCancelDone) {
    const bool download = GetParam();
    const int button = download ? IDC_LOAD : IDC_CRYPT;
    m_dlg.type(IDC_IMAGE_PATH, "C:\\images\\image.bin");
    m_dlg.type(IDC_COM_PORT, "  12a");  // strtol's reading: 12
    m_dlg.click(button);
    auto made = calls();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].kind, download ? "download" : "crypt");
    EXPECT_EQ(made[0].path, "C:\\images\\image.bin");
    EXPECT_EQ(made[0].port, "\\\\.\\COM12");
    EXPECT_EQ(made[0].skipResetVector, download ? 0 : -1);
    EXPECT_TRUE(made[0].progressShown);
    EXPECT_EQ(made[0].loadShown, download);
    EXPECT_EQ(made[0].cryptShown, !download);
    EXPECT_EQ(made[0].loadText, download ? "Cancel" : "Load Image");
    EXPECT_TRUE(busyLook(download));

    showStatus("Sending Data Packet 3");
    for (size_t click = 1; click <= 3; ++click) {
        m_dlg.click(button);
        made = calls();
        ASSERT_EQ(made.size(), 1 + click);
        EXPECT_EQ(made.back().kind, "cancel");
        EXPECT_TRUE(busyLook(download));
        EXPECT_EQ(m_dlg.text(IDC_STATUS), "Sending Data Packet 3");
    }
    const uint8_t result = download ? DOWNLOAD_CANCELED : CRYPT_UPLOADED;
    deliverDone(result);
    EXPECT_EQ(m_dlg.text(IDC_STATUS), transferResultMessage(result));
    // Idle again: the next click starts.
    m_dlg.click(button);
    EXPECT_EQ(calls().back().kind, download ? "download" : "crypt");
}

TEST_P(Win32DialogStart, EmptyPathShowsItsMessageAndStaysIdle) {
    const bool download = GetParam();
    m_dlg.click(download ? IDC_LOAD : IDC_CRYPT);
    EXPECT_EQ(m_dlg.text(IDC_STATUS),
              download ? "Please specify a file to transmit"
                       : "Please specify path & name of a binary file to receive the crypt.");
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(idleLook());
}

// A path in any script, typed into the field as UTF-16, reaches the engine whole, in UTF-8;
// through the ANSI code page it would arrive with '?' in it, naming another file.
TEST_P(Win32DialogStart, PathInAnyScriptReachesTheEngine) {
    const bool download = GetParam();
    const std::wstring typed =
        std::wstring(L"C:\\Users\\") + NON_ANSI_NAME_WIDE + L"\\" + NON_ANSI_NAME_WIDE + L".bin";
    SetWindowTextW(m_dlg.item(IDC_IMAGE_PATH), typed.c_str());
    m_dlg.click(download ? IDC_LOAD : IDC_CRYPT);
    const auto made = calls();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].path,
              std::string("C:\\Users\\") + NON_ANSI_NAME + "\\" + NON_ANSI_NAME + ".bin");
    EXPECT_EQ(m_dlg.wideText(IDC_IMAGE_PATH), typed);
}

INSTANTIATE_TEST_SUITE_P(LoadAndCrypt, Win32DialogStart, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Load" : "Crypt"; });

// Nothing shows the check box, but a download click reads it every time.
TEST_F(Win32Dialog, CheckBoxStateReachesTheDownload) {
    m_dlg.type(IDC_IMAGE_PATH, "a.bin");
    for (WPARAM check : {BST_CHECKED, BST_UNCHECKED}) {
        SendMessageA(m_dlg.item(IDC_NO_RESET_VERIFY), BM_SETCHECK, check, 0);
        m_dlg.click(IDC_LOAD);
        ASSERT_FALSE(calls().empty());
        EXPECT_EQ(calls().back().skipResetVector, check == BST_CHECKED ? 1 : 0);
        deliverDone(SUCCESS);
    }
}

TEST_F(Win32Dialog, ResultWithoutMessageEmptiesTheStatus) {
    m_dlg.type(IDC_IMAGE_PATH, "a.bin");
    m_dlg.click(IDC_CRYPT);
    showStatus("Reading crypto binary: 7");
    deliverDone(12);
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "");
    // Applied in the Idle look all the same. The dialog is idle already, so deliverDone
    // cannot tell when the result has arrived: the text itself is awaited.
    deliverDone(TARGET_TIMEOUT);
    EXPECT_TRUE(waitUntil(
        [this] { return m_dlg.text(IDC_STATUS) == "Timeout waiting for response from target"; },
        WAIT_MS))
        << m_dlg.text(IDC_STATUS);
}

// This thread is a worker here: showStatus and setProgress return only once the dialog's
// thread has applied them.
TEST_F(Win32Dialog, WorkerNotificationsAreAppliedBeforeTheyReturn) {
    char text[32] = "Verifying Data Packet 9";
    showStatus(text);
    std::strcpy(text, "overwritten");
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "Verifying Data Packet 9");
    // A status text that names a file shows the name as it is.
    showStatus((std::string("Cannot open ") + NON_ANSI_NAME + ".bin").c_str());
    EXPECT_EQ(m_dlg.wideText(IDC_STATUS),
              std::wstring(L"Cannot open ") + NON_ANSI_NAME_WIDE + L".bin");

    SendMessageA(m_dlg.item(IDC_PROGRESS), PBM_SETRANGE32, 0, 1000);
    setProgress(300);  // the low 8 bits count: 44
    EXPECT_EQ(m_dlg.progressPosition(), 44);
    EXPECT_EQ(m_dlg.progressRange(), (std::pair<int, int>{0, 100}));
    setProgress(77);
    EXPECT_EQ(m_dlg.progressPosition(), 77);

    // The hidden bar keeps its position; the next start shows it there.
    m_dlg.type(IDC_IMAGE_PATH, "a.bin");
    m_dlg.click(IDC_LOAD);
    deliverDone(SUCCESS);
    EXPECT_EQ(m_dlg.progressPosition(), 77);
    m_dlg.click(IDC_LOAD);
    EXPECT_TRUE(m_dlg.shown(IDC_PROGRESS));
    EXPECT_EQ(m_dlg.progressPosition(), 77);
}

// Once the window is destroyed the main-window reference is gone: a worker still running
// reaches nothing, and nothing waits.
TEST_F(Win32Dialog, NotificationsFindNoTargetAfterTheWindowIsGone) {
    m_dlg.pressKey(VK_ESCAPE);
    ASSERT_TRUE(ended());
    EXPECT_EQ(mainWindowHandle(), nullptr);
    EXPECT_EQ(mainWindow(), nullptr);
    EXPECT_FALSE(IsWindow(m_dlg.window()));
    showStatus("late");
    setProgress(50);
    notifyResult(SUCCESS);
}

struct KeyRow {
    const char* name;
    int focus;  // control that has the focus, or 0 for the close box
    UINT key;
    INT_PTR endsWith;  // -2: the dialog stays open
    const char* status;
    friend void PrintTo(const KeyRow& row, std::ostream* out) { *out << row.name; }
};

class Win32DialogKeys : public Win32Dialog, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(Win32DialogKeys, StandardDialogKeys) {
    const KeyRow& row = GetParam();
    if (row.focus == 0) {
        PostMessageA(m_dlg.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        SendMessageA(m_dlg.window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_dlg.item(row.focus)),
                     TRUE);
        ASSERT_EQ(m_dlg.focus(), m_dlg.item(row.focus));
        m_dlg.pressKey(row.key);
    }
    if (row.endsWith == -2) {
        EXPECT_TRUE(waitUntil([&] { return m_dlg.text(IDC_STATUS) == row.status; }, WAIT_MS));
        EXPECT_FALSE(ended(200));
    } else {
        ASSERT_TRUE(ended());
        EXPECT_EQ(m_result, row.endsWith);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Win32DialogKeys,
    ::testing::Values(KeyRow{"EscapeOnLoad", IDC_LOAD, VK_ESCAPE, IDCANCEL, ""},
                      KeyRow{"EscapeInPath", IDC_IMAGE_PATH, VK_ESCAPE, IDCANCEL, ""},
                      KeyRow{"EnterInPath", IDC_IMAGE_PATH, VK_RETURN, IDOK, ""},
                      KeyRow{"EnterInPort", IDC_COM_PORT, VK_RETURN, IDOK, ""},
                      KeyRow{"EnterOnLoadClicksIt", IDC_LOAD, VK_RETURN, -2,
                             "Please specify a file to transmit"},
                      KeyRow{"EnterOnCryptClicksIt", IDC_CRYPT, VK_RETURN, -2,
                             "Please specify path & name of a binary file to receive the crypt."},
                      KeyRow{"CloseBox", 0, 0, IDCANCEL, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Win32Dialog, SystemMenuEndsWithTheAboutItem) {
    HMENU menu = GetSystemMenu(m_dlg.window(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    char text[64] = "";
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = sizeof text;
    ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 1), TRUE, &item));
    EXPECT_STREQ(text, "&About Tarnlink...");
    EXPECT_EQ(item.wID, UINT{IDM_ABOUTBOX});
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 2), TRUE, &separator));
    EXPECT_NE(separator.fType & MFT_SEPARATOR, 0u);
}

TEST(Win32DialogMenu, EmptyTextAddsNeitherSeparatorNorItem) {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "First");
    appendMenuItem(menu, "", IDM_ABOUTBOX);
    appendMenuItem(menu, nullptr, IDM_ABOUTBOX);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    appendMenuItem(menu, "&About", IDM_ABOUTBOX);
    EXPECT_EQ(GetMenuItemCount(menu), 3);
    DestroyMenu(menu);
}

struct AboutRow {
    const char* name;
    WPARAM command;
    int closeWith;  // a key, or 0: click OK
    friend void PrintTo(const AboutRow& row, std::ostream* out) { *out << row.name; }
};

class Win32DialogAbout : public Win32Dialog, public ::testing::WithParamInterface<AboutRow> {};

// The About box is modal to the main dialog, opens with the focus on OK, and Enter, Escape
// or OK close it; the main dialog keeps its notifications meanwhile and after.
TEST_P(Win32DialogAbout, OpensFromTheSystemMenu) {
    const AboutRow& row = GetParam();
    PostMessageA(m_dlg.window(), WM_SYSCOMMAND, row.command, 0);
    HWND about = waitForDialog(m_ui->id(), "About Tarnlink", WAIT_MS);
    ASSERT_NE(about, nullptr);
    DialogDriver box(about);
    EXPECT_EQ(GetWindow(about, GW_OWNER), m_dlg.window());
    EXPECT_FALSE(IsWindowEnabled(m_dlg.window()));
    EXPECT_TRUE(waitUntil([&] { return box.focus() == box.item(IDOK); }, WAIT_MS));
    expectFollowsTemplate(about, aboutDialogTemplate());
    const auto style = static_cast<DWORD>(GetWindowLongA(about, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              DWORD{WS_CAPTION | WS_SYSMENU | DS_MODALFRAME});
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);

    showStatus("Sending Data Packet 1");  // a worker goes on while the box is open
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "Sending Data Packet 1");
    if (row.closeWith == 0) {
        box.postClick(IDOK);
    } else {
        box.pressKey(static_cast<UINT>(row.closeWith));
    }
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(about); }, WAIT_MS));
    EXPECT_TRUE(IsWindowEnabled(m_dlg.window()));
    EXPECT_FALSE(ended(100));
    showStatus("after");
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "after");
}

INSTANTIATE_TEST_SUITE_P(About, Win32DialogAbout,
                         ::testing::Values(AboutRow{"Enter", IDM_ABOUTBOX, VK_RETURN},
                                           AboutRow{"Escape", IDM_ABOUTBOX, VK_ESCAPE},
                                           AboutRow{"OkWithLowBitsSet", IDM_ABOUTBOX | 0xF, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The file dialog: the design's two filters, "Binary" first; confirming puts the full path
// in the path field, also for a name that does not exist yet, and whatever script the name
// is in; cancelling changes nothing.
class Win32DialogBrowse : public Win32Dialog, public ::testing::WithParamInterface<int> {};

TEST_P(Win32DialogBrowse, FileDialog) {
    const int outcome = GetParam();  // 0 existing file, 1 new name, 2 cancel
    TempDir dir;
    const std::string existing = windowsPath(dir.file(std::string(NON_ANSI_NAME) + ".bin"));
    std::FILE* file = _wfopen(wideFromUtf8(existing).c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const std::string fresh = windowsPath(dir.file(std::string("crypt-") + NON_ANSI_NAME + ".bin"));
    m_dlg.type(IDC_IMAGE_PATH, "before.bin");
    m_dlg.postClick(IDC_BROWSE);
    HWND open = waitForDialog(m_ui->id(), "Open", WAIT_MS);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(GetWindow(open, GW_OWNER), m_dlg.window());

    HWND types = GetDlgItem(open, 0x470 /*cmb1*/);
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(SendMessageA(types, CB_GETCOUNT, 0, 0), 2);
    char entry[64] = "";
    SendMessageA(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, "Binary (*.bin)");
    SendMessageA(types, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, "All Files (*.*)");
    EXPECT_EQ(SendMessageA(types, CB_GETCURSEL, 0, 0), 0);

    if (outcome == 2) {
        PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
    } else {
        HWND name = GetDlgItem(open, 0x47C /*cmb13*/);
        if (name == nullptr) {
            name = GetDlgItem(open, 0x480 /*edt1*/);
        }
        ASSERT_NE(name, nullptr);
        const std::string& chosen = outcome == 0 ? existing : fresh;
        const std::wstring wide = wideFromUtf8(chosen);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        PostMessageA(open, WM_COMMAND, IDOK, 0);
    }
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(open); }, WAIT_MS));
    const std::string expected = outcome == 0 ? existing : outcome == 1 ? fresh : "before.bin";
    EXPECT_TRUE(waitUntil([&] { return m_dlg.text(IDC_IMAGE_PATH) == expected; }, WAIT_MS))
        << m_dlg.text(IDC_IMAGE_PATH);
    EXPECT_TRUE(idleLook());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, Win32DialogBrowse, ::testing::Values(0, 1, 2),
                         [](const auto& info) {
                             return std::string(info.param == 0   ? "ExistingFile"
                                                : info.param == 1 ? "NewName"
                                                                  : "Cancel");
                         });

}  // namespace
}  // namespace tarnlink::test

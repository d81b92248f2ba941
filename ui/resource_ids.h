#pragma once
// Numbers of the dialog templates, their controls, the string and the icons, as the
// resource script of the dialog program gives them. Each control's objectName is its
// IDC_ name, so tests and GetDlgItem find it either way.

namespace tarnlink {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDR_MAINFRAME = 128;  ///< icon of the About box
inline constexpr int IDI_TARNLINK = 129;   ///< icon of the main window (same picture)

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

inline constexpr int IDC_LOAD = 1001;
inline constexpr int IDC_PROGRESS = 1006;
inline constexpr int IDC_IMAGE_PATH = 1007;
inline constexpr int IDC_BROWSE = 1008;
inline constexpr int IDC_STATUS = 1009;
inline constexpr int IDC_COM_PORT = 1010;
inline constexpr int IDC_NO_RESET_VERIFY = 1013;
inline constexpr int IDC_CRYPT = 1014;

/// Command of the About item in the window menu; the low 4 bits belong to the platform.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
/// The platform's own window-menu commands that the dialog's menu offers as well.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;

}  // namespace tarnlink

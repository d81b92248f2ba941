#pragma once
// Numbers of the dialog templates, their controls, the string and the icons. The Windows
// resource script includes this file too, so it holds nothing but #define lines; the Qt
// dialog gives each control its IDC_ name as objectName, so tests find it either way.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128 /* icon of the About box */
#define IDI_TARNLINK 129  /* icon of the main window (same picture) */

#define IDC_LOAD 1001
#define IDC_PROGRESS 1006
#define IDC_IMAGE_PATH 1007
#define IDC_BROWSE 1008
#define IDC_STATUS 1009
#define IDC_COM_PORT 1010
#define IDC_NO_RESET_VERIFY 1013
#define IDC_CRYPT 1014

/* Command of the About item in the system menu; the low 4 bits belong to the platform. */
#define IDM_ABOUTBOX 0x0010

/* The platform's own numbers, for the Qt dialog (Windows headers define the same). */
#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

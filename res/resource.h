#pragma once
// Resource and control numbers shared by the resource script and the Windows dialogs. Plain
// macros: the resource compiler reads this file too.

// Dialog templates, string and icon.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TERVIX_DIALOG 102
#define IDR_MAINFRAME 128

// The About item of the main dialog's system menu.
#define IDM_ABOUTBOX 0x0010

// Controls of the main dialog; 1 (IDOK) is EXIT and 2 (IDCANCEL) the hidden Cancel.
#define IDC_CONNECT 1000
#define IDC_FLASH 1001
#define IDC_RUN 1002
#define IDC_PROGRESS 1003
#define IDC_STATUS 1004
#define IDC_STEP_CONNECT 1005
#define IDC_STEP_HEX_INPUT 1006
#define IDC_STEP_CLEAR 1007
#define IDC_STEP_WRITE 1009
#define IDC_STEP_FINISH 1010

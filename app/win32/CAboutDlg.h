#pragma once
// The About box (template 100): the icon, the version line and OK.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

class CAboutDlg {
public:
    // Runs the box modally to owner until OK or its close box ends it.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

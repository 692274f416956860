#include "app/win32/CLoaderApp.h"

#include "app/win32/CLoaderDlg.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <commctrl.h>

bool CLoaderApp::InitInstance() {
    // The progress bar's window class.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CLoaderDlg dialog;
    dialog.DoModal();
    return false;
}

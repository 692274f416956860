#include "app/CLoaderApp.h"

#include "app/CLoaderDlg.h"

bool CLoaderApp::InitInstance() {
    CLoaderDlg dialog;
    dialog.exec();
    return false;
}

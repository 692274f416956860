#include "app/qt/CLoaderApp.h"

#include "app/qt/CLoaderDlg.h"

bool CLoaderApp::InitInstance() {
    CLoaderDlg dialog;
    dialog.exec();
    return false;
}

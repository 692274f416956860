#include "app/win32/CLoaderApp.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    {
        CLoaderApp app;
        app.InitInstance();
    }
    // A job ended with EXIT may still be running on its threads, in a port call or a pause, and a
    // box of the job may still be open on a thread of its own. They reach nothing of the dialog
    // any more, but the port layer's statics must outlive them: leave without running static
    // destructors (ExitProcess ends the other threads first and runs none).
    std::fflush(nullptr);
    ExitProcess(EXIT_SUCCESS);
}

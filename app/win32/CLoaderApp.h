#pragma once
// The application: runs the main dialog modally; the program's life is the dialog's.

class CLoaderApp {
public:
    // Runs the dialog until EXIT ends it. Returns false: there is nothing to run afterwards.
    bool InitInstance();
};

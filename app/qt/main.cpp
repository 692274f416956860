#include "app/qt/CLoaderApp.h"
#include "app/qt/ProgramInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>

int main(int argc, char* argv[]) {
    if (const std::optional<int> status = AnswerProgramInfo(argc, argv)) {
        return *status;
    }
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Tervix"));
        CLoaderApp app;
        app.InitInstance();
    }
    // A job ended with EXIT may still be running on its threads, in a port call or a pause.
    // They reach nothing of the dialog any more, but the port layer's statics must outlive
    // them: leave without running static destructors.
    std::fflush(nullptr);
    std::quick_exit(EXIT_SUCCESS);
}

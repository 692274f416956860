// The GUI tests need one application object for the whole run, on the main thread.

#include <QApplication>

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// The file dialog reads folders on a thread of the toolkit's own, which it joins through futexes
// that ThreadSanitizer cannot follow; the wait condition's destruction after that join is no race.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n";
}
#endif

int main(int argc, char** argv) {
    // No display by default; the small-screen run asks for one.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // The default style draws progress bars with image work fanned out to the toolkit's thread
    // pool, whose futex-based synchronisation ThreadSanitizer cannot follow. The classic style
    // draws on the user-interface thread, so a sanitizer run reports only the program's races.
    QApplication::setStyle(QStringLiteral("Windows"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

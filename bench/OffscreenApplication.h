#pragma once
// The Qt application of the window benchmarks: one per process, offscreen unless the
// environment names another platform.

#include <QApplication>

namespace bench {

inline QApplication& OffscreenApplication() {
    static int argc = 1;
    static char name[] = "hivewarden-bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

} // namespace bench

#pragma once
// The Qt application of the window benchmarks: one per process, offscreen unless the
// environment names another platform; and the big machine those windows show.

#include "BigMachine.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <exception>

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

// Boots the big machine (when no machine is) and makes the application; false, with the
// benchmark skipped and the error said, when the machine cannot be booted.
inline bool PrepareWindowOnBigMachine(benchmark::State& state) {
    try {
        BootBigMachine();
        OffscreenApplication();
        return true;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return false;
    }
}

} // namespace bench

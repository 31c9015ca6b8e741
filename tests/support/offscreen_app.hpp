#pragma once
// One offscreen QGuiApplication for a benchmark program, made on first use and kept for the
// program's life.
#include <QGuiApplication>

#include <cstdlib>

namespace test_support {

inline QGuiApplication& offscreen_app() {
    static int argc = 1;
    static char name[] = "benchmark";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(argc, argv);
    return app;
}

}  // namespace test_support

#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// The benchmarks that run the program's windows do so without a display, on the simulated PC,
// with a settings folder of their own so the user's settings are neither read nor written.
// Called before the application object is made.
inline void useBenchProgramEnvironment(const QTemporaryDir& settings) {
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUILLMOR_PORTS", "sim");
}

#pragma once

#include <QCoreApplication>
#include <QtGlobal>

namespace app {

// Called before the application object is made. Qt's own event dispatcher does half the work
// of GLib's on each wake-up, and the poll wakes the program a thousand times a second; a user
// who sets QT_NO_GLIB (even to nothing) keeps that choice. Without GLib's loop a GTK file,
// colour or font dialog would run a loop of its own in which neither the poll nor any other
// timer of the program runs, so the toolkit's own dialogs are used then.
inline void useQtEventLoop() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    if (!qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

}  // namespace app

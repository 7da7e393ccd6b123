#pragma once

class QAction;

namespace widgets {

// The main window's menu items. The window makes them; the parts that own their commands (the
// terminal page, the log tools, the help commands) are handed the items themselves, so a
// renamed item fails to compile rather than going quietly dead. A part given a menu without
// one of its items (null) leaves that item unconnected.
struct MainMenu {
    QAction* N5 = nullptr;
    QAction* LOG1 = nullptr;
    QAction* N6 = nullptr;
    QAction* CLOG1 = nullptr;
    QAction* N9 = nullptr;
    QAction* LOG2 = nullptr;
    QAction* N24 = nullptr;
    QAction* N25 = nullptr;
    QAction* N11 = nullptr;
    QAction* N14 = nullptr;
    QAction* XON1 = nullptr;
    QAction* BREK1 = nullptr;
    QAction* NRTS = nullptr;
    QAction* NDTR = nullptr;
    QAction* N19 = nullptr;
    QAction* N20 = nullptr;
    QAction* N22 = nullptr;
    QAction* Help1 = nullptr;
    QAction* N16 = nullptr;
    QAction* N26 = nullptr;
    QAction* N27 = nullptr;
    QAction* N28 = nullptr;
    // Beside the specified menus: the data view and the timeline windows.
    QAction* DataView = nullptr;
    QAction* Timeline = nullptr;
};

}  // namespace widgets

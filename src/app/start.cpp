#include "app/start.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <cstdlib>
#include <iostream>

#include "app/log_pane.h"
#include "app/main_window.h"
#include "app/resources.h"
#include "app/splash_window.h"
#include "app/termination_signals.h"
#include "app/user_settings.h"
#include "comm/comm.h"
#include "dataview/data_view_window.h"
#include "driver/driver_window.h"
#include "help/about_window.h"
#include "help/help_commands.h"
#include "log/hint_highlighter.h"
#include "log/log_tools.h"
#include "log/viewer_window.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"
#include "terminal/terminal_page.h"
#include "timeline/recording.h"
#include "timeline/timeline_window.h"
#include "widgets/command.h"

namespace app {

namespace {

// Qt's own file, colour, font and message-box dialogs speak the language of the program's
// windows, whatever the user's locale.
void installQtTranslations() {
    static QTranslator qtTexts;
    static const bool loaded =
        qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    static const bool installed = loaded && QCoreApplication::installTranslator(&qtTexts);
    Q_UNUSED(installed);
}

// The recording runs from here on; its window opens from the menu and keeps its lanes and
// geometry beside the settings, and counts as one of the program's windows, like the viewer.
void startTimeline(Program& program) {
    TForm1* mainWindow = program.Form1.get();
    const widgets::MainMenu& menu = mainWindow->menu();
    program.recording = std::make_unique<timeline::Recording>(
        mainWindow->registerMonitor(),
        timeline::PortFeed{&mainWindow->terminalPage().Comm1(),
                           [rts = menu.NRTS] { return rts->isChecked(); },
                           [dtr = menu.NDTR] { return dtr->isChecked(); }});
    program.timelineWindow =
        std::make_unique<timeline::TimelineWindow>(*program.recording, QUILLMOR_VERSION);
    timeline::TimelineWindow* window = program.timelineWindow.get();
    {
        UserSettingsKey key;
        window->loadSettings(key.settings());
    }
    QObject::connect(menu.Timeline, &QAction::triggered, window, [window] {
        window->show();
        window->raise();
        window->activateWindow();
    });
    // Written after the main window has saved its three values.
    QObject::connect(mainWindow, &TForm1::closed, window, [window] {
        UserSettingsKey key;
        window->saveSettings(key.settings());
        key.save();
    });
}

}  // namespace

Program::Program() = default;
Program::~Program() = default;

std::unique_ptr<Program> startProgram(platform::DriverHost& host, const StartTrace& trace,
                                      platform::PortBackend backend) {
    const auto created = [&trace](QWidget& window) {
        if (trace) trace(window);
    };
    installQtTranslations();
    auto program = std::make_unique<Program>();

    // The splash is painted before anything else is built, so it is on screen meanwhile.
    program->Form4 = std::make_unique<TForm4>();
    program->Form4->show();
    program->Form4->repaint();
    QCoreApplication::processEvents();
    created(*program->Form4);

    QCoreApplication::setApplicationName(QStringLiteral("QUILLMOR"));

    program->Form1 = std::make_unique<TForm1>(host, TForm1::defaultSerialPorts(backend));
    program->Form1->show();
    // Keeps the splash over the main window where no window manager honours "on top".
    program->Form4->raise();
    created(*program->Form1);
    TForm1* mainWindow = program->Form1.get();
    const auto confirmTone = [mainWindow](int hz, int ms) { mainWindow->ConfirmTone(hz, ms); };
    program->Form2 = std::make_unique<logs::TForm2>(confirmTone);
    created(*program->Form2);
    program->Form3 = std::make_unique<help::TForm3>();
    // The pictures are embedded in the program, not in the libraries of these windows.
    program->Form3->setPictures(QPixmap(resourcePath("icon.png")),
                                QPixmap(resourcePath("title.png")));
    created(*program->Form3);
    program->Form5 = std::make_unique<driver::TForm5>(mainWindow->driverLinks(), *program->Form2);
    program->Form5->setPicture(jpegPicture("driver.jpg"));
    created(*program->Form5);
    mainWindow->setDriverWindow(program->Form5.get());
    program->dataView = std::make_unique<dataview::DataViewWindow>(
        mainWindow->terminalPage().Comm1(), mainWindow->menu());
    dataview::DataViewWindow* dataView = program->dataView.get();
    {
        UserSettingsKey key;
        dataView->loadSettings(key.settings());
    }
    QObject::connect(mainWindow->menu().DataView, &QAction::triggered, dataView, [dataView] {
        dataView->show();
        dataView->raise();
        dataView->activateWindow();
    });
    QObject::connect(&mainWindow->terminalPage().dataViewButton(), &QToolButton::clicked,
                     mainWindow->menu().DataView, &QAction::trigger);
    // Its options go beside the three settings, which the main window has written by then.
    QObject::connect(mainWindow, &TForm1::closed, dataView, [dataView] {
        UserSettingsKey key;
        dataView->saveSettings(key.settings());
        key.save();
    });
    startTimeline(*program);
    // Like the viewer, the data view and the timeline are program windows: coming back from
    // one of them to the main window is an activation.
    mainWindow->setProgramWindows({program->Form2.get(), program->Form3.get(), program->Form5.get(),
                                   dataView, program->timelineWindow.get()});

    // The help menu and the log tools work across windows: their texts show in the viewer.
    auto* helpCommands =
        new help::HelpCommands(mainWindow, mainWindow->menu(), *program->Form2, *program->Form3,
                               confirmTone, QCoreApplication::applicationDirPath().toStdString());
    QObject::connect(
        &mainWindow->terminalPage().helpButton(), &QToolButton::clicked, helpCommands,
        [helpCommands] {
            widgets::runCommand([helpCommands] { helpCommands->showHelp(help::kUartHelp); });
        });
    auto* logTools = new logs::LogTools(
        *mainWindow, mainWindow->menu(),
        {mainWindow->toolsPage(), mainWindow->registerMonitor().basePortGroup(),
         mainWindow->checkBox3()},
        mainWindow->leftLog(), mainWindow->rightLog(), *program->Form2, confirmTone,
        [helpCommands] { helpCommands->showHelp(help::kToolHelp); });
    widgets::HintedControls hinted = mainWindow->terminalPage().hintedControls();
    for (const widgets::HintedControls& more :
         {mainWindow->registerMonitor().hintedControls(), logTools->hintedControls()})
        hinted.insert(hinted.end(), more.begin(), more.end());
    new logs::HintHighlighter(hinted, mainWindow->statusPanel(0), *program->Form2);

    program->Form4->link(
        {mainWindow, [mainWindow] { return mainWindow->OpenDriver(); }, program->Form5.get()});
    // Hidden rather than closed: the application closes every window still shown as it quits.
    QObject::connect(mainWindow, &TForm1::closed, program->Form4.get(), &TForm4::dismiss);
    return program;
}

platform::PortBackend portBackendAtStart() {
    return platform::portBackendFromSetting(std::getenv("QUILLMOR_PORTS"), std::cerr);
}

int runProgram(platform::DriverHost& host, platform::PortBackend backend) {
    comm::usePortBackend(backend);
    // Watched from before the windows exist: a signal that comes while they are being made
    // (the start runs events for the splash) closes the program once its event loop runs.
    std::unique_ptr<Program> program;
    bool endRequested = false;
    const TerminationSignals termination([&program, &endRequested] {
        endRequested = true;
        if (program) program->Form1->closeQuietly();
    });
    program = startProgram(host, {}, backend);
    QObject::connect(program->Form1.get(), &TForm1::closed, qApp, &QCoreApplication::quit);
    if (endRequested) QTimer::singleShot(0, program->Form1.get(), &TForm1::closeQuietly);
    return QApplication::exec();
}

}  // namespace app

#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "platform/driver_host.h"
#include "platform/port_backend.h"

namespace timeline {
class Recording;
class TimelineWindow;
}  // namespace timeline
namespace logs {
class TForm2;
}
namespace help {
class TForm3;
}
namespace driver {
class TForm5;
}
namespace dataview {
class DataViewWindow;
}

namespace app {

class TForm1;
class TForm4;

// The program's windows. Each lives until the program ends; they go in the reverse order of
// their creation.
struct Program {
    Program();
    ~Program();
    // Outlives the main window, whose monitor and port hand it records until the end.
    std::unique_ptr<timeline::Recording> recording;
    std::unique_ptr<timeline::TimelineWindow> timelineWindow;
    std::unique_ptr<TForm4> Form4;
    std::unique_ptr<TForm1> Form1;
    std::unique_ptr<logs::TForm2> Form2;
    std::unique_ptr<help::TForm3> Form3;
    std::unique_ptr<driver::TForm5> Form5;
    // Goes first: its log and its sending end before the port they use.
    std::unique_ptr<dataview::DataViewWindow> dataView;
};

// Called with each window right after it is created, so the order can be watched.
using StartTrace = std::function<void(QWidget& created)>;

// The start-up sequence, after the application object exists: the splash is created, shown
// and painted at once, the application gets its title, then the main window (which shows
// itself), the viewer, the about window and the driver installation window come up in this
// order. The host must outlive the program; it serves the backend given, which also decides
// the serial ports listed.
std::unique_ptr<Program> startProgram(
    platform::DriverHost& host, const StartTrace& trace = {},
    platform::PortBackend backend = platform::PortBackend::Simulated);

// The port backend QUILLMOR_PORTS names, read once as the program starts; an unknown value is
// reported on stderr.
platform::PortBackend portBackendAtStart();

// Hands the backend to the serial component, startProgram(), then the event loop until the main
// window closes.
int runProgram(platform::DriverHost& host,
               platform::PortBackend backend = platform::PortBackend::Simulated);

}  // namespace app

// Start-up of the tool: from process start to the first paint of the main window, and the memory
// the process holds at that moment.
//
//   startup_bench             one start-up; prints one line per figure ("<name> <value>")
//   startup_bench --runs N    starts itself N times (default 9) and prints, per figure, the median,
//                             min and max
//
// The start-up is the program's own: the same application object, the same preparation, the same
// window, shown and left to the event loop; an event filter notes the window's first paint event
// and ends the loop. Figures:
//   exec_to_first_paint_ms  from the kernel's start time of the process (its exec, so dynamic
//                           loading and static initialisation count), at the kernel's clock tick
//                           resolution (10 ms at 100 ticks/s)
//   main_to_first_paint_ms  from the first statement of main, to the microsecond
//   main_to_application_ms, main_to_window_ms
//                           the same clock when the application object is ready and when the
//                           main window has been built (before show): where the start-up goes
//   vm_rss_kb, vm_hwm_kb    resident memory at the first paint, and its peak so far
// The platform is offscreen unless QT_QPA_PLATFORM says otherwise; the tool's files go to a fresh
// temporary root directory, so no port setting of the user is read.
#include "ChildProcess.h"
#include "TempRoot.h"

#include "app/OperatorBoxes.h"
#include "app/SwitcherApplication.h"
#include "app/Switchermain.h"
#include "platform/Timing.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDefaultRuns = 9;
// Fields of /proc/self/stat after the command name: the state is field 3, the start time field 22.
constexpr int kStatFieldsBeforeStartTime = 22 - 3;
constexpr double kMsPerSecond = 1000.0;
constexpr double kUsPerMs = 1000.0;

const char* const kExecFigure = "exec_to_first_paint_ms";
const char* const kMainFigure = "main_to_first_paint_ms";
const char* const kApplicationFigure = "main_to_application_ms";
const char* const kWindowFigure = "main_to_window_ms";
const char* const kRssFigure = "vm_rss_kb";
const char* const kHwmFigure = "vm_hwm_kb";
const char* const kFigureOrder[] = {kExecFigure,   kMainFigure, kApplicationFigure,
                                    kWindowFigure, kRssFigure,  kHwmFigure};

// Milliseconds since the process was started by the kernel, or a negative value when unknown.
// The start time counts clock ticks since boot, on the clock that includes suspend.
double MsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    // The command name stands in parentheses and may itself hold spaces and parentheses.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int i = 0; i < kStatFieldsBeforeStartTime && fields >> field; ++i) {
    }
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks))
        return -1;
    timespec now{};
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    const double nowMs = static_cast<double>(now.tv_sec) * kMsPerSecond + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * kMsPerSecond / static_cast<double>(ticksPerSecond);
}

// A "VmRSS:"-style line of /proc/self/status, in kB; -1 when missing.
long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t keyLength = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, keyLength, key) == 0)
            return std::strtol(line.c_str() + keyLength, nullptr, 10);
    return -1;
}

// Notes the first paint of the watched window, prints the figures and ends the event loop.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* window, int64_t mainUs, int64_t applicationUs, int64_t windowUs)
        : window_(window), mainUs_(mainUs), applicationUs_(applicationUs), windowUs_(windowUs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!done_ && watched == window_ && event->type() == QEvent::Paint) {
            done_ = true;
            const double sinceMainMs = static_cast<double>(NowUs() - mainUs_) / kUsPerMs;
            const double sinceExecMs = MsSinceProcessStart();
            std::printf("%s %.1f\n", kExecFigure, sinceExecMs);
            std::printf("%s %.2f\n", kMainFigure, sinceMainMs);
            std::printf("%s %.2f\n", kApplicationFigure, static_cast<double>(applicationUs_ - mainUs_) / kUsPerMs);
            std::printf("%s %.2f\n", kWindowFigure, static_cast<double>(windowUs_ - mainUs_) / kUsPerMs);
            std::printf("%s %ld\n", kRssFigure, StatusKb("VmRSS:"));
            std::printf("%s %ld\n", kHwmFigure, StatusKb("VmHWM:"));
            std::fflush(stdout);
            // After the paint has been delivered, as the program would go on.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* window_;
    int64_t mainUs_;
    int64_t applicationUs_;
    int64_t windowUs_;
    bool done_ = false;
};

int MeasureOnce(int argc, char** argv, int64_t mainUs) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const TempRoot root;

    // As the program starts.
    SwitcherApplication app(argc, argv);
    PrepareApplication(app);
    const int64_t applicationUs = NowUs();
    Tfrm_Main window;
    const int64_t windowUs = NowUs();
    FirstPaint watch(&window, mainUs, applicationUs, windowUs);
    window.installEventFilter(&watch);
    window.show();
    return app.exec();
}

// Runs this program once more and collects its figures; false (with what it said) when it failed.
bool MeasureInChild(const char* self, std::map<std::string, double>* figures) {
    const ChildResult child = RunChild({self});
    std::istringstream lines(child.out);
    std::string name;
    double value = 0;
    while (lines >> name >> value)
        (*figures)[name] = value;
    if (child.status == 0 && figures->size() == std::size(kFigureOrder))
        return true;
    std::fprintf(stderr, "%s", child.err.c_str());
    return false;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int MeasureMany(int runs) {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::fprintf(stderr, "startup_bench: cannot find its own executable\n");
        return EXIT_FAILURE;
    }
    self[length] = '\0';
    std::map<std::string, std::vector<double>> series;
    for (int i = 0; i < runs; ++i) {
        std::map<std::string, double> figures;
        if (!MeasureInChild(self, &figures)) {
            std::fprintf(stderr, "startup_bench: run %d failed\n", i + 1);
            return EXIT_FAILURE;
        }
        for (const auto& [name, value] : figures)
            series[name].push_back(value);
    }
    for (const char* name : kFigureOrder) {
        const std::vector<double>& values = series[name];
        std::printf("%s median %.1f min %.1f max %.1f (%d runs)\n", name, Median(values),
                    *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()),
                    runs);
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    const int64_t mainUs = NowUs(); // first thing: the clock the start-up is measured on
    if (argc >= 2 && std::strcmp(argv[1], "--runs") == 0) {
        const int runs = argc >= 3 ? std::atoi(argv[2]) : kDefaultRuns;
        if (runs < 1) {
            std::fprintf(stderr, "usage: startup_bench [--runs N]\n");
            return EXIT_FAILURE;
        }
        return MeasureMany(runs);
    }
    return MeasureOnce(argc, argv, mainUs);
}

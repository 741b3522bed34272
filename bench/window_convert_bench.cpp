// The main window's plain run beside the command line's: the free tables of
// FOLDER converted into a new .mdb by `tallyport convert` and by the
// window's Start Converting (offscreen, SQL Preview off, every box answered
// Yes), in ROUNDS (default 5) alternating rounds. Prints the medians and
// their ratio. The window's run is timed inside this process, from the click
// to the end of the run; the command line's as a whole process.
//
//   window_convert_bench FOLDER [ROUNDS] [TALLYPORT]
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "db/ado.h"
#include "host/events.h"
#include "host/message_box.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

class YesBoxes : public tp::MessageBoxes {
public:
    int show(const std::string&, int, const std::string&) override { return tp::mb::Yes; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double cpuSeconds(int who, bool system = false) {
    rusage u{};
    getrusage(who, &u);
    const timeval& t = system ? u.ru_stime : u.ru_utime;
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double timeCommandLine(const std::string& tallyport, const fs::path& folder, const fs::path& target) {
    fs::remove(target);
    const std::string cmd = "'" + tallyport + "' convert --folder '" + folder.string() + "' --target '" +
                            target.string() + "' --create >/dev/null 2>&1";
    const auto start = Clock::now();
    const double user = cpuSeconds(RUSAGE_CHILDREN), sys = cpuSeconds(RUSAGE_CHILDREN, true);
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the command line's run failed\n");
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "  command line: %.2f s wall, %.2f s user, %.2f s system\n", wall,
                 cpuSeconds(RUSAGE_CHILDREN) - user, cpuSeconds(RUSAGE_CHILDREN, true) - sys);
    return wall;
}

double timeWindow(const fs::path& folder, const fs::path& target) {
    fs::remove(target);
    tp::app::MainWindow form;
    form.load();
    form.findChild<QCheckBox*>("Check1")->setChecked(false);  // SQL Preview off: the plain run
    form.useDbcSource = false;
    form.findChild<QLineEdit*>("Text2")->setText(QString::fromStdString(folder.string()));
    form.findChild<QLineEdit*>("Text5")->setText(QString::fromStdString(target.string()));
    form.show();
    QCoreApplication::processEvents();
    const auto start = Clock::now();
    const double user = cpuSeconds(RUSAGE_SELF), sys = cpuSeconds(RUSAGE_SELF, true);
    form.findChild<QPushButton*>("PushButton7")->click();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "  window:       %.2f s wall, %.2f s user, %.2f s system\n", wall, cpuSeconds(RUSAGE_SELF) - user,
                 cpuSeconds(RUSAGE_SELF, true) - sys);
    return wall;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_convert_bench FOLDER [ROUNDS] [TALLYPORT]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string tallyport =
        argc > 3 ? argv[3] : (fs::canonical("/proc/self/exe").parent_path().parent_path() / "tallyport").string();
    const fs::path scratch = fs::temp_directory_path() / "tallyport-window-bench";
    fs::create_directories(scratch);
    // The settings of this run only, never the user's.
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    YesBoxes boxes;
    tp::setMessageBoxes(&boxes);
    tp::setEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    tp::setBusyPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    tp::db::registerBuiltinProviders();

    std::vector<double> cli, window;
    for (int r = 0; r < rounds; ++r) {
        cli.push_back(timeCommandLine(tallyport, folder, scratch / "cli.mdb"));
        window.push_back(timeWindow(folder, scratch / "window.mdb"));
        if (!fs::exists(scratch / "window.mdb") ||
            fs::file_size(scratch / "window.mdb") != fs::file_size(scratch / "cli.mdb"))
            std::fprintf(stderr, "the window's database differs in size from the command line's\n");
    }
    std::printf("%s, %d alternating rounds (medians, wall)\n", folder.c_str(), rounds);
    std::printf("  tallyport convert (command line): %7.2f s\n", median(cli));
    std::printf("  Start Converting (main window):   %7.2f s\n", median(window));
    std::printf("  ratio window / command line:      %7.2f\n", median(window) / median(cli));
    fs::remove_all(scratch);
    return 0;
}

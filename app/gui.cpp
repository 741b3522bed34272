#include "app/gui.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "app/main_window.h"
#include "app/qt_regional.h"
#include "db/ado.h"
#include "host/program_files.h"
#include "ui/message_boxes.h"
#include "host/utilities.h"

namespace tp::app {

int runGui(int argc, char** argv) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !platform) {
        std::cerr << "tallyport: no display found, so the main window cannot open.\n"
                     "Run it under X11 or Wayland (or `xvfb-run tallyport`), or use the command line:\n"
                     "  tallyport --help\n";
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallyport");
    QGuiApplication::setDesktopFileName("app.tallyport.Tallyport");
    // Beside the program in a build folder, in <prefix>/share/tallyport when installed.
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    setProgramFolder(folder);
    setSharedDataFolder(folder + "/" TP_SHARED_DATA_RELATIVE);
    installQtServices();
    installSystemRegionalSettings();
    db::registerBuiltinProviders();
    MainWindow form;
    if (!form.load() || form.ended()) return form.exitCode();
    form.show();
    return app.exec();
}

}  // namespace tp::app

#include "app/gui.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "app/form1.h"
#include "app/qt_regional.h"
#include "db/ado.h"
#include "ui/qt/qtmessageboxes.h"
#include "ui/utilities.h"

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
    setProgramFolder(QCoreApplication::applicationDirPath().toStdString());
    installQtServices();
    installSystemRegionalSettings();
    db::registerBuiltinProviders();
    Form1 form;
    if (!form.Form_Load() || form.ended()) return form.exitCode();
    form.show();
    return app.exec();
}

}  // namespace tp::app

#include "app/gui.h"

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <iostream>

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
    QWidget w;
    w.setWindowTitle("Tallyport");
    w.show();
    return app.exec();
}

}  // namespace tp::app

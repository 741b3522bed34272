// Entry point: no arguments open the main window; anything else is the
// command line.
#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <iostream>

#include "app/cli.h"
#include "app/gui.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        tp::cli::Args args(argv + 1, argv + argc);
        return tp::cli::run(args);
    }
    return tp::app::runGui(argc, argv);
}

// Entry point: no arguments open the main window; anything else is the
// command line. A build without the windows is the command line alone.
#include "app/cli.h"
#ifdef TP_WITH_WINDOWS
#include "app/gui.h"
#endif

int main(int argc, char** argv) {
#ifdef TP_WITH_WINDOWS
    if (argc <= 1) return tp::app::runGui(argc, argv);
#endif
    tp::cli::Args args(argv + 1, argv + argc);
    return tp::cli::run(args);
}

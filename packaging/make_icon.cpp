// Writes the application icon as PNG files for the desktop's icon theme, drawn
// by the same code as the window icon (into images: no display needed):
//   tp_make_icon OUTDIR SIZE...   ->  OUTDIR/<SIZE>.png
#include <QDir>
#include <QImage>
#include <iostream>
#include <string>
#include <vector>

#include "ui/pointer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: tp_make_icon OUTDIR SIZE...\n";
        return 2;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    const QString dir = QString::fromStdString(args[0]);
    if (!QDir().mkpath(dir)) {
        std::cerr << "tp_make_icon: cannot make " << args[0] << "\n";
        return 1;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        const int size = std::stoi(args[i]);
        const QString file = dir + "/" + QString::number(size) + ".png";
        if (size < 16 || size > 1024 || !tp::appIconImage(size).save(file, "PNG")) {
            std::cerr << "tp_make_icon: cannot write " << file.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}

#include "ui/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace tp {

namespace {
Dialogs* g_dialogs = nullptr;
}

QString QtDialogs::chooseFolder(QWidget* owner, const QString& prompt, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, prompt, start, QFileDialog::ShowDirsOnly);
}

QString QtDialogs::chooseOpenFile(QWidget* owner, const QString& title, const QStringList& filters,
                                  const QString& folder) {
    QFileDialog dlg(owner, title, folder);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet may be typed (a new target file).
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters(filters);
    if (!filters.isEmpty()) dlg.selectNameFilter(filters.first());
    if (dlg.exec() != QDialog::Accepted) return {};
    const QStringList files = dlg.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

Dialogs& dialogs() {
    static QtDialogs fallback;
    return g_dialogs ? *g_dialogs : fallback;
}

void setDialogs(Dialogs* d) { g_dialogs = d; }

QStringList filtersFromClassic(const QString& classic) {
    QStringList parts = classic.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString name = parts[i];
        const QString patterns = parts[i + 1];
        if (name.isEmpty() || patterns.isEmpty()) continue;
        QStringList pats = patterns.split(';', Qt::SkipEmptyParts);
        // The name often carries its own "(*.x)"; Qt reads the patterns from
        // the last parentheses, so those of the filter are stated there, and
        // the name's own go: each filter is shown once.
        QString shown = name.trimmed();
        const int open = shown.lastIndexOf('(');
        if (open > 0 && shown.endsWith(')') && shown.mid(open + 1).trimmed().startsWith('*'))
            shown = shown.left(open).trimmed();
        out << QString("%1 (%2)").arg(shown, pats.join(' '));
    }
    return out;
}

QString folderOfPath(const QString& path) {
    if (path.trimmed().isEmpty()) return {};
    const QFileInfo info(path);
    if (info.isDir()) return info.absoluteFilePath();
    const QFileInfo parent(info.absolutePath());
    return parent.isDir() ? parent.absoluteFilePath() : QString();
}

QString browseForFolder(QWidget* owner, const QString& prompt, const QString& start) {
    const QString chosen = dialogs().chooseFolder(owner, prompt, start);
    if (chosen.isEmpty()) return {};
    const QFileInfo info(chosen);
    // Only file-system folders can be confirmed.
    if (!info.isAbsolute() || !info.isDir()) return {};
    return info.absoluteFilePath();
}

}  // namespace tp

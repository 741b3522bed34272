// The folder picker and the file-open dialog as a service, so that tests can
// answer them; the windows use Qt's dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

namespace tp {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The chosen folder, or empty text on cancel.
    virtual QString chooseFolder(QWidget* owner, const QString& prompt, const QString& start) = 0;
    // The chosen file (it need not exist yet), or empty text on cancel.
    // Filters in Qt form ("Name (*.a *.b)"); the first is selected. The
    // dialog opens in `folder` when it is one.
    virtual QString chooseOpenFile(QWidget* owner, const QString& title, const QStringList& filters,
                                   const QString& folder) = 0;
};

class QtDialogs : public Dialogs {
public:
    QString chooseFolder(QWidget* owner, const QString& prompt, const QString& start) override;
    QString chooseOpenFile(QWidget* owner, const QString& title, const QStringList& filters,
                           const QString& folder) override;
};

Dialogs& dialogs();
void setDialogs(Dialogs* d);

// Turns a classic filter text ("Name|pattern;pattern|Name|pattern|") into
// Qt filters. Bad pairs are dropped.
QStringList filtersFromClassic(const QString& classic);

// The folder a field's path lies in (the path itself when it is a folder);
// empty when there is none on the disk.
QString folderOfPath(const QString& path);

// The folder picker: prompt as its title, the start folder selected first;
// empty text when cancelled or when the choice has no file-system path.
QString browseForFolder(QWidget* owner, const QString& prompt, const QString& start);

}  // namespace tp

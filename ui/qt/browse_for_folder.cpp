#include "ui/qt/browse_for_folder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QString>

#include "ui/qt/qt_application.h"

bool BrowseForFolder(const std::wstring& initial, std::wstring& out, QWidget* owner) {
    EnsureQtApplication();
    out.clear();
    // Starting where the page's text points saves the user the walk from the top; a text that
    // names no folder starts at home.
    const QString start = QString::fromStdWString(initial);
    const QString startFolder =
        !start.isEmpty() && QFileInfo(start).isDir() ? start : QDir::homePath();
    const QString chosen =
        QFileDialog::getExistingDirectory(owner, QString(), startFolder, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    out = QDir::toNativeSeparators(chosen).toStdWString();
    return true;
}

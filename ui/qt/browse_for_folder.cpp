#include "ui/qt/browse_for_folder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QString>

#include "text/utf8.h"
#include "ui/qt/qt_application.h"

bool BrowseForFolder(const std::wstring& initial, std::wstring& out, QWidget* owner) {
    EnsureQtApplication();
    out.clear();
    // Starting where the page's text points saves the user the walk from the top; a text that
    // names no folder starts at home.
    const QString start = QFile::decodeName(QByteArray::fromStdString(WideToUtf8(initial)));
    const QString startFolder =
        !start.isEmpty() && QFileInfo(start).isDir() ? start : QDir::homePath();
    const QString chosen =
        QFileDialog::getExistingDirectory(owner, QString(), startFolder, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    // Through the file-name encoding, so a folder whose name is not UTF-8 keeps its bytes.
    const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(chosen));
    out = Utf8ToWide(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return true;
}

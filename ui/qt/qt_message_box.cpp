#include "ui/qt/qt_message_box.h"

#include <QMessageBox>
#include <QString>
#include <QTimer>

#include "ui/qt/qt_application.h"
#include "ui/user_interface.h"

namespace {

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & kMbIconMask) {
        case kMbIconError:
            return QMessageBox::Critical;
        case kMbIconQuestion:
            return QMessageBox::Question;
        case kMbIconWarning:
            return QMessageBox::Warning;
        case 0x40:  // the information icon
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int ShowQtMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption,
                     unsigned style) {
    EnsureQtApplication();
    const bool yesNo = (style & kMbButtonMask) == kMbYesNo;
    QMessageBox box(IconOf(style), QString::fromStdWString(caption), QString::fromStdWString(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
    // Texts come from the catalogue too; none of them is markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowIcon(ProductIcon());
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        case QMessageBox::Ok:
            return kIdOk;
        default:
            return 0;
    }
}

void ShowQtNotice(const std::wstring& text, const std::wstring& caption,
                  std::chrono::milliseconds shownFor) {
    EnsureQtApplication();
    QMessageBox box(QMessageBox::Warning, QString::fromStdWString(caption),
                    QString::fromStdWString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowIcon(ProductIcon());
    QTimer::singleShot(shownFor, &box, &QMessageBox::accept);
    box.exec();
}

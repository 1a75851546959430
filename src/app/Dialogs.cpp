#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace pelldrin {

namespace {
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
} // namespace

void QtDialogs::ShowError(const std::string& text, const std::string& caption) {
    QMessageBox::critical(parent_, Q(caption), Q(text));
}

void QtDialogs::ShowInfo(const std::string& text, const std::string& caption) {
    QMessageBox::information(parent_, Q(caption), Q(text));
}

bool QtDialogs::AskYesNo(const std::string& text, const std::string& caption) {
    return QMessageBox::question(parent_, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::string QtDialogs::ChooseFolder(const std::string& initialFolder, const std::string& title) {
    // Only real folders can be chosen.
    const QString folder = QFileDialog::getExistingDirectory(parent_, Q(title), Q(initialFolder),
                                                             QFileDialog::ShowDirsOnly);
    return folder.toStdString();
}

} // namespace pelldrin

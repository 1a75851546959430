#include "app/Dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QUrl>

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
    QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setDefaultButton(QMessageBox::No);
    questions_.push_back(&box);
    const int answer = box.exec();
    // Boxes opened meanwhile have closed before this one's loop could end.
    questions_.pop_back();
    return answer == QMessageBox::Yes;
}

void QtDialogs::CloseQuestions() {
    for (const QPointer<QMessageBox>& box : questions_) {
        if (box) {
            box->done(QMessageBox::No);
        }
    }
}

std::string QtDialogs::ChooseFolder(const std::string& initialFolder, const std::string& title) {
    // Only real folders can be chosen.
    const QString folder = QFileDialog::getExistingDirectory(parent_, Q(title), Q(initialFolder),
                                                             QFileDialog::ShowDirsOnly);
    return folder.toStdString();
}

std::vector<std::string> QtDialogs::ChooseFiles(const std::string& initialFolder,
                                                const std::string& title,
                                                const std::string& filter) {
    std::vector<std::string> files;
    for (const QString& file :
         QFileDialog::getOpenFileNames(parent_, Q(title), Q(initialFolder), Q(filter))) {
        files.push_back(file.toStdString());
    }
    return files;
}

bool QtDialogs::OpenFolder(const std::string& folder) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
}

} // namespace pelldrin

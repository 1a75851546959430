#include "app/AboutForm.h"

#include "base/FileSystem.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace pelldrin {

namespace {

// The file's text, or the message that names it when it cannot be read.
QString FileText(const std::string& folder, const char* name, const QString& missing) {
    QFile file(QString::fromStdString(JoinPath(folder, name)));
    if (!file.open(QIODevice::ReadOnly)) {
        return missing;
    }
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

TAboutForm::TAboutForm(const std::string& programFolder, const QString& version,
                       const AboutTexts& texts, QWidget* parent)
    : QDialog(parent) {
    setObjectName("AboutForm");
    setWindowTitle(texts.title);
    resize(860, 520);
    aboutedit = new QPlainTextEdit(this);
    aboutedit->setObjectName("aboutedit");
    aboutedit->setReadOnly(true);
    // The notices are a table in columns: a fixed-width font, and no wrapping.
    aboutedit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    aboutedit->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QString rule(72, '=');
    aboutedit->setPlainText("Pelldrin " + version + "\n\n" + rule + "\n" + kLicenceFileName + "\n" +
                            rule + "\n" +
                            FileText(programFolder, kLicenceFileName, texts.missingLicence) +
                            "\n\n" + rule + "\n" + kNoticesFileName + "\n" + rule + "\n" +
                            FileText(programFolder, kNoticesFileName, texts.missingNotices) + "\n");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(aboutedit, 1);
    layout->addWidget(buttons);
}

} // namespace pelldrin

#include "app/AboutForm.h"

#include "base/FileSystem.h"

#include <QFile>

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

QString AboutText(const std::string& programFolder, const QString& version,
                  const AboutTexts& texts) {
    const QString rule(72, '=');
    return "Pelldrin " + version + "\n\n" + rule + "\n" + kLicenceFileName + "\n" + rule + "\n" +
           FileText(programFolder, kLicenceFileName, texts.missingLicence) + "\n\n" + rule + "\n" +
           kNoticesFileName + "\n" + rule + "\n" +
           FileText(programFolder, kNoticesFileName, texts.missingNotices) + "\n";
}

} // namespace

// The notices are a table in columns: a fixed-width font, and no wrapping.
TAboutForm::TAboutForm(const std::string& programFolder, const QString& version,
                       const AboutTexts& texts, QWidget* parent)
    : TTextForm(AboutText(programFolder, version, texts), texts.box, true, parent) {
    setObjectName("AboutForm");
    resize(860, 520);
}

} // namespace pelldrin

// The About box: the version, the licence and the third-party notices, read from the
// program folder when the box opens.
#pragma once

#include "app/TextForm.h"

#include <string>

namespace pelldrin {

// The files the box shows, as they lie in the program folder.
inline constexpr const char* kLicenceFileName = "LICENSE";
inline constexpr const char* kNoticesFileName = "THIRD-PARTY-NOTICES";

// The texts of the box, in the window's language.
struct AboutTexts {
    TextFormTexts box;
    QString missingLicence; // what shows in place of a file that cannot be read
    QString missingNotices;
};

class TAboutForm : public TTextForm {
    Q_OBJECT

  public:
    TAboutForm(const std::string& programFolder, const QString& version, const AboutTexts& texts,
               QWidget* parent);
};

} // namespace pelldrin

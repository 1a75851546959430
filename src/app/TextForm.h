// A box that shows a text to read and copy: the About box and a task's warnings.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace pelldrin {

// The box's texts, in the window's language.
struct TextFormTexts {
    QString title;
    QString close; // the button's caption
    QString copy;  // the button that copies the whole text
};

class TTextForm : public QDialog {
    Q_OBJECT

  public:
    // monospaced: a fixed-width font without wrapping, for texts laid out in columns.
    TTextForm(const QString& text, const TextFormTexts& texts, bool monospaced, QWidget* parent);

    QPlainTextEdit* textedit = nullptr;
    QPushButton* copybtn = nullptr;
    QPushButton* closebtn = nullptr;
};

} // namespace pelldrin

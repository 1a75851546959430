#include "app/TextForm.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelldrin {

TTextForm::TTextForm(const QString& text, const TextFormTexts& texts, bool monospaced,
                     QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(texts.title);
    textedit = new QPlainTextEdit(this);
    textedit->setObjectName("textedit");
    textedit->setReadOnly(true); // still selectable, so any part can be copied too
    if (monospaced) {
        textedit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        textedit->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    textedit->setPlainText(text);
    auto* buttons = new QDialogButtonBox(this);
    copybtn = buttons->addButton(texts.copy, QDialogButtonBox::ActionRole);
    copybtn->setObjectName("copybtn");
    closebtn = buttons->addButton(texts.close, QDialogButtonBox::RejectRole);
    closebtn->setObjectName("closebtn");
    connect(copybtn, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(textedit->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textedit, 1);
    layout->addWidget(buttons);
}

} // namespace pelldrin

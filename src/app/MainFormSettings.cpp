// The task settings: the controls show the selected row's task (or, with none selected, what
// the next file gets), and a change goes to the selected rows alone.
#include "app/MainForm.h"

#include "app/QtText.h"
#include "app/TaskRowView.h"
#include "base/TextHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>

#include <algorithm>
#include <stdexcept>

namespace pelldrin {

namespace {

// The task settings the controls edit: a control (by its name) per TaskLine field, and how
// its value is kept. A new task setting is one more entry here.
enum class SettingKind {
    ListPosition, // a list's position, in decimal
    Flag,         // a check box: "1" or "0"
    Text,         // a line's whole text
    ListData,     // the data of a list's item (a style's file name; "" for none)
    Number,       // a spin box's value, in decimal
};
struct SettingControl {
    const char* control;
    TaskField field;
    SettingKind kind;
};
constexpr SettingControl kSettingControls[] = {
    {"lbox", FormatIndex, SettingKind::ListPosition},
    {"FPSbox", RateIndex, SettingKind::ListPosition},
    {"ensupbox", MakeSup, SettingKind::Flag},
    {"EnFirstBlack", FirstBlack, SettingKind::Flag},
    {"Cmdedit", CommandTemplate, SettingKind::Text},
    {"stylebox", StyleFile, SettingKind::ListData},
    {"EnEndBlack", EndBlack, SettingKind::Flag},
    {"colourbox", Colour, SettingKind::ListData},
    {"whitebox", White, SettingKind::Number},
};

} // namespace

std::vector<std::uint64_t> TMainform::SelectedIds() const {
    std::vector<std::pair<int, std::uint64_t>> rows;
    for (const QListWidgetItem* item : tasklist->selectedItems()) {
        rows.emplace_back(tasklist->row(item), item->data(kIdRole).toULongLong());
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::uint64_t> ids;
    for (const auto& [row, id] : rows) {
        ids.push_back(id);
    }
    return ids;
}

void TMainform::ShowSettings(const std::string& taskLine) {
    // Showing a task's values never writes them back.
    showing_ = true;
    for (const SettingControl& setting : kSettingControls) {
        QObject* control = findChild<QObject*>(setting.control);
        std::string value;
        try {
            value = TaskLineField(taskLine, setting.field);
        } catch (const TaskLineError&) {
            continue;
        }
        std::int64_t number = -1;
        switch (setting.kind) {
        case SettingKind::ListPosition:
            if (TryParseInt(value, number)) {
                qobject_cast<QComboBox*>(control)->setCurrentIndex(static_cast<int>(number));
            }
            break;
        case SettingKind::Flag:
            qobject_cast<QCheckBox*>(control)->setChecked(value == "1");
            break;
        case SettingKind::Text: {
            auto* edit = qobject_cast<QLineEdit*>(control);
            edit->setText(Q(value));
            edit->setCursorPosition(0);
            break;
        }
        case SettingKind::ListData: {
            auto* box = qobject_cast<QComboBox*>(control);
            box->setCurrentIndex(box->findData(Q(value))); // -1 (none) when not listed
            break;
        }
        case SettingKind::Number:
            if (TryParseInt(value, number)) {
                qobject_cast<QSpinBox*>(control)->setValue(static_cast<int>(number));
            }
            break;
        }
    }
    showing_ = false;
    UpdateSettingWarnings();
}

std::string TMainform::SettingValue(int field) const {
    for (const SettingControl& setting : kSettingControls) {
        if (setting.field != field) {
            continue;
        }
        const QObject* control = findChild<QObject*>(setting.control);
        switch (setting.kind) {
        case SettingKind::ListPosition:
            return std::to_string(qobject_cast<const QComboBox*>(control)->currentIndex());
        case SettingKind::Flag:
            return qobject_cast<const QCheckBox*>(control)->isChecked() ? "1" : "0";
        case SettingKind::Text:
            return S(qobject_cast<const QLineEdit*>(control)->text());
        case SettingKind::ListData:
            return S(qobject_cast<const QComboBox*>(control)->currentData().toString());
        case SettingKind::Number:
            return std::to_string(qobject_cast<const QSpinBox*>(control)->value());
        }
    }
    throw std::logic_error("no control edits task field " + std::to_string(field));
}

void TMainform::SettingChanged(int field) {
    if (showing_) {
        return;
    }
    const std::string value = SettingValue(field);
    try {
        const auto ids = SelectedIds();
        if (ids.empty()) {
            template_ = WithTaskLineField(template_, field, value);
        }
        for (const std::uint64_t id : ids) {
            if (const auto index = queue_.IndexOf(id)) {
                queue_.SetField(*index, field, value);
            }
        }
        if (!ids.empty()) {
            FlushModel();
        }
    } catch (const std::exception& e) {
        dialogs_->ShowError(e.what(), Msg("C016"));
    }
    UpdateSettingWarnings();
}

void TMainform::UpdateSettingWarnings() {
    std::string shown = template_;
    for (const int field : {FormatIndex, RateIndex, Colour}) {
        shown = WithTaskLineField(shown, field, SettingValue(field));
    }
    const RowTag tag = TagOf(shown);
    const bool warn = !tag.format.isEmpty() && !tag.discPair;
    if (warn) {
        pairwarn->setText(Q(Format("C035", {S(tag.format), S(tag.rate)})));
    }
    pairwarn->setVisible(warn);
    const bool hdrWarn = !tag.format.isEmpty() && tag.hdr && !tag.hdrFits;
    if (hdrWarn) {
        hdrwarn->setText(Q(Format("C042", {S(tag.format)})));
    }
    hdrwarn->setVisible(hdrWarn);
    whitebox->setEnabled(tag.hdr);
    // A shown warning needs the height of its lines at the width it has, which the least
    // size may not have left it: the window grows to show it whole.
    centralWidget()->layout()->activate();
    for (QLabel* label : {pairwarn, hdrwarn}) {
        label->setMinimumHeight(label->isVisibleTo(this) ? label->heightForWidth(label->width())
                                                         : 0);
    }
    FitLeastSize();
}

void TMainform::tasklistClick() {
    const auto ids = SelectedIds();
    if (ids.empty()) {
        ShowSettings(template_);
        return;
    }
    if (const auto index = queue_.IndexOf(ids.front())) {
        if (const auto entry = queue_.Get(*index)) {
            ShowSettings(entry->taskLine);
        }
    }
}

void TMainform::lboxChange() {
    SettingChanged(FormatIndex);
}

void TMainform::FPSboxChange() {
    SettingChanged(RateIndex);
}

void TMainform::ensupboxClick() {
    SettingChanged(MakeSup);
}

void TMainform::EnFirstBlackClick() {
    SettingChanged(FirstBlack);
}

void TMainform::CmdeditChange() {
    SettingChanged(CommandTemplate);
}

void TMainform::styleboxChange() {
    SettingChanged(StyleFile);
}

void TMainform::EnEndBlackClick() {
    SettingChanged(EndBlack);
}

void TMainform::colourboxChange() {
    SettingChanged(Colour);
}

void TMainform::whiteboxChange() {
    SettingChanged(White);
}

} // namespace pelldrin

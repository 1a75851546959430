#include "app/Dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

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

std::vector<std::int64_t> CheckedAtOpening(const TrackChoice& choice) {
    std::vector<std::int64_t> checked;
    for (const TrackChoiceRow& row : choice.rows) {
        if (row.checked && row.convertible) {
            checked.push_back(row.number);
        }
    }
    return checked;
}

std::vector<std::int64_t> QtDialogs::ChooseTracks(const TrackChoice& choice) {
    QDialog dialog(parent_);
    dialog.setObjectName("trackDialog");
    dialog.setWindowTitle(Q(choice.title));
    auto* intro = new QLabel(Q(choice.intro), &dialog);
    intro->setWordWrap(true);
    auto* tracks = new QTreeWidget(&dialog);
    tracks->setObjectName("tracks");
    tracks->setRootIsDecorated(false);
    tracks->setColumnCount(static_cast<int>(choice.headers.size()));
    QStringList headers;
    for (const std::string& header : choice.headers) {
        headers << Q(header);
    }
    tracks->setHeaderLabels(headers);
    for (const TrackChoiceRow& row : choice.rows) {
        QStringList flags;
        if (row.isDefault) {
            flags << Q(choice.defaultFlag);
        }
        if (row.isForced) {
            flags << Q(choice.forcedFlag);
        }
        if (!row.convertible) {
            flags << Q(choice.notConvertible);
        }
        auto* item = new QTreeWidgetItem(tracks, {QString::number(row.number), Q(row.language),
                                                  Q(row.name), Q(row.codec), flags.join(", ")});
        item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(row.number));
        if (row.convertible) {
            item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
        } else {
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        }
    }
    for (int c = 0; c < tracks->columnCount(); ++c) {
        tracks->resizeColumnToContents(c);
    }
    auto* unmatched = new QLabel(&dialog);
    unmatched->setObjectName("unmatched");
    unmatched->setWordWrap(true);
    unmatched->setStyleSheet("color: rgb(170, 0, 0);");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(intro);
    layout->addWidget(tracks, 1);
    layout->addWidget(unmatched);
    layout->addWidget(buttons);

    const auto checked = [tracks] {
        std::vector<std::int64_t> numbers;
        for (int i = 0; i < tracks->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = tracks->topLevelItem(i);
            if ((item->flags() & Qt::ItemIsEnabled) && item->checkState(0) == Qt::Checked) {
                numbers.push_back(item->data(0, Qt::UserRole).toLongLong());
            }
        }
        return numbers;
    };
    const auto update = [&] {
        const std::vector<std::int64_t> numbers = checked();
        const std::string text = choice.unmatched ? choice.unmatched(numbers) : std::string();
        unmatched->setText(Q(text));
        unmatched->setVisible(!text.empty());
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!numbers.empty());
    };
    QObject::connect(tracks, &QTreeWidget::itemChanged, &dialog, update);
    update();
    dialog.resize(std::max(480, tracks->header()->length() + 40), dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return checked();
}

bool QtDialogs::OpenFolder(const std::string& folder) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
}

} // namespace pelldrin

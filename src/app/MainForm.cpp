#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/PreviewForm.h"
#include "app/QtText.h"
#include "app/TaskRowView.h"
#include "app/TextForm.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/VideoFormats.h"
#include "batch/QueueFile.h"
#include "script/TaskScript.h"
#include "settings/FileListing.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <algorithm>
#include <iostream>
#include <set>
#include <stdexcept>
#include <unordered_map>

namespace pelldrin {

namespace {

constexpr int kQuitWaitMs = 10000;   // longest wait for the converter to end when quitting
constexpr int kMaxSkippedNames = 20; // names listed per group in a drop's message

bool IsSubtitleFile(const std::string& path) {
    const std::string ext = FileExtension(path);
    return !path.empty() &&
           (SameTextN(ext, ".ass", 4) || SameTextN(ext, ".ssa", 4) || SameTextN(ext, ".srt", 4));
}

// An address that names no file of this computer ("http://...", "file://host/...").
bool IsAddress(const std::string& path) {
    const auto colon = path.find("://");
    return colon != std::string::npos && colon > 1 &&
           std::all_of(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The task settings the controls edit: a control (by its name) per TaskLine field, and how
// its value is kept. A new task setting is one more entry here.
enum class SettingKind {
    ListPosition, // a list's position, in decimal
    Flag,         // a check box: "1" or "0"
    Text,         // a line's whole text
    ListData,     // the data of a list's item (a style's file name; "" for none)
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
};

// A message and the names it lists, at most kMaxSkippedNames of them.
std::string NamedList(std::string text, const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size() && i < kMaxSkippedNames; ++i) {
        text += "\n" + names[i];
    }
    if (names.size() > kMaxSkippedNames) {
        text += "\n... (" + std::to_string(names.size() - kMaxSkippedNames) + ")";
    }
    return text;
}

} // namespace

TMainform::TMainform(std::string programFolder, IDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), programFolder_(std::move(programFolder)),
      template_(BuildTaskLine("", TaskControls{})) {
    if (!dialogs) {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
    host_ = MakeHost();
    run_ = std::make_unique<TBatchRun>(queue_, *host_);

    setObjectName("Mainform");
    setWindowTitle(QString("Pelldrin_") + kProgramVersion);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    QFont font;
    font.setFamilies({"宋体", "SimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    font.setPointSize(9);
    setFont(font);

    BuildControls();
    LoadStartupState();
    RestoreQueue();
    PlaceWindow();
}

TMainform::~TMainform() {
    // The worker reports to this window: end it before the controls go, and keep what it
    // left in the queue file.
    run_->StopAndWait(std::chrono::milliseconds(kQuitWaitMs));
    run_.reset();
    queue_.SetOnChanged({});
    SaveQueue(false);
    if (qtTranslator_) {
        QCoreApplication::removeTranslator(qtTranslator_.get());
    }
}

std::string TMainform::ConfigFile() const {
    return JoinPath(programFolder_, kConfigFileName);
}

void TMainform::ConnectHandlers() {
    connect(actbtn, &QPushButton::clicked, this, &TMainform::actbtnClick);
    connect(brkbtn, &QPushButton::clicked, this, &TMainform::brkbtnClick);
    connect(Timer1, &QTimer::timeout, this, &TMainform::Timer1Timer);
    connect(tasklist, &QListWidget::itemSelectionChanged, this, &TMainform::tasklistClick);
    connect(tasklist, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const auto ids = SelectedIds();
        const auto entry =
            ids.empty() ? std::nullopt : queue_.Get(queue_.IndexOf(ids.front()).value_or(SIZE_MAX));
        for (QAction* action : {deltaskm, previewm, openfolderm}) {
            action->setEnabled(entry.has_value());
        }
        showwarnm->setEnabled(entry && !entry->warnings.empty());
        pmenu1->popup(tasklist->viewport()->mapToGlobal(pos));
    });
    // Every change of a setting control, but the ones made while a task's values are shown.
    connect(lbox, &QComboBox::currentIndexChanged, this, &TMainform::lboxChange);
    connect(FPSbox, &QComboBox::currentIndexChanged, this, &TMainform::FPSboxChange);
    connect(ensupbox, &QCheckBox::toggled, this, &TMainform::ensupboxClick);
    connect(EnFirstBlack, &QCheckBox::toggled, this, &TMainform::EnFirstBlackClick);
    connect(Cmdedit, &QLineEdit::textChanged, this, &TMainform::CmdeditChange);
    connect(stylebox, &QComboBox::currentIndexChanged, this, &TMainform::styleboxChange);
    connect(EnEndBlack, &QCheckBox::toggled, this, &TMainform::EnEndBlackClick);
    connect(deltaskm, &QAction::triggered, this, &TMainform::deltaskmClick);
    connect(Clm, &QAction::triggered, this, &TMainform::ClmClick);
    connect(previewm, &QAction::triggered, this, &TMainform::previewmClick);
    connect(showwarnm, &QAction::triggered, this, &TMainform::showwarnmClick);
    connect(openfolderm, &QAction::triggered, this, &TMainform::openfoldermClick);
    connect(tasklist, &QListWidget::itemDoubleClicked, this, &TMainform::previewmClick);
    connect(aboutm, &QAction::triggered, this, &TMainform::aboutmClick);
    connect(addfilesm, &QAction::triggered, this, &TMainform::addfilesmClick);
    connect(addfolderm, &QAction::triggered, this, &TMainform::addfoldermClick);
    connect(plvbox, &QComboBox::activated, this, &TMainform::plvboxChange);
    connect(closetc, &QCheckBox::clicked, this, &TMainform::closetcClick);
    connect(browsebtn, &QPushButton::clicked, this, &TMainform::browsebtnClick);
    connect(Pathedit, &QLineEdit::textChanged, this, &TMainform::PatheditChange);
    connect(showm, &QAction::triggered, this, &TMainform::showmClick);
    connect(quitm, &QAction::triggered, this, &TMainform::quitmClick);
}

void TMainform::LoadStartupState() {
    settings_ = LoadSettings(ConfigFile(), programFolder_);
    BuildLanguageMenu();
    {
        const QSignalBlocker block(Pathedit);
        Pathedit->setText(Q(settings_.OutputFolder));
    }
    SetupTray();
    ListStyles();
    closetc->setChecked(settings_.CloseToTray == 1);
    if (settings_.PriorityIndex >= 0 && settings_.PriorityIndex < plvbox->count()) {
        plvbox->setCurrentIndex(settings_.PriorityIndex);
    }
    try {
        lastAddFolder_ = ReadConfigValue(ConfigFile(), "Config", "AddFolder").value_or("");
    } catch (const std::exception&) {
        // An unreadable configuration was named above; the chooser starts at home.
    }
    ShowSettings(template_);
    if (!settings_.missing.empty()) {
        std::string list;
        for (const auto& key : settings_.missing) {
            list += (list.empty() ? "" : ", ") + key;
        }
        // Shown once the window is up, so the message has its owner on screen.
        QTimer::singleShot(
            0, this, [this, list] { dialogs_->ShowError(Format("C014", {list}), Msg("C016")); });
    }
}

void TMainform::RestoreQueue() {
    const std::string path = JoinPath(programFolder_, kQueueFileName);
    QueueFileRead read = LoadQueueFile(path);
    for (TaskEntry& entry : read.rows) {
        try {
            queue_.AppendEntry(std::move(entry));
        } catch (const std::exception&) {
            // A row whose settings break the record cannot be a task; the file had it.
        }
    }
    if (!read.error.empty()) {
        std::string message;
        if (read.setAsidePath.empty()) {
            // Saving now would overwrite the only copy of those rows.
            saveQueue_ = false;
            message = Format("C037", {read.error});
        } else {
            message = Format("C036", {read.error, read.setAsidePath});
        }
        QTimer::singleShot(0, this, [this, message] { dialogs_->ShowError(message, Msg("C016")); });
    }
    queue_.SetOnChanged([this] {
        // From any thread: one flush per turn of the window's event loop.
        if (!flushPending_.exchange(true)) {
            QMetaObject::invokeMethod(
                this, [this] { FlushModel(); }, Qt::QueuedConnection);
        }
    });
    FlushModel();
}

void TMainform::FlushModel() {
    flushPending_.store(false);
    SyncRows();
    SaveQueue();
}

void TMainform::SaveQueue(bool tellInBox) {
    if (!saveQueue_) {
        return;
    }
    try {
        SaveQueueFile(JoinPath(programFolder_, kQueueFileName), queue_.Snapshot());
        lastSaveError_.clear();
    } catch (const std::exception& e) {
        if (!tellInBox) {
            std::cerr << "Pelldrin: " << Format("C038", {std::string(e.what())}) << '\n';
            return;
        }
        // Told once: a full disk would otherwise ask at every change.
        if (lastSaveError_ != e.what()) {
            lastSaveError_ = e.what();
            dialogs_->ShowError(Format("C038", {lastSaveError_}), Msg("C016"));
        }
    }
}

TaskRowTexts TMainform::RowTexts() const {
    TaskRowTexts texts;
    texts.stopped = Q(Msg("C040"));
    texts.pairWarning = [this](const QString& format, const QString& rate) {
        return Q(Format("C035", {S(format), S(rate)}));
    };
    return texts;
}

void TMainform::SyncRows() {
    const std::vector<TaskEntry> rows = queue_.Snapshot();
    std::unordered_map<std::uint64_t, QListWidgetItem*> items;
    for (int i = 0; i < tasklist->count(); ++i) {
        items[tasklist->item(i)->data(kIdRole).toULongLong()] = tasklist->item(i);
    }
    const TaskRowTexts texts = RowTexts();
    std::set<std::uint64_t> listed;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TaskEntry& entry = rows[i];
        listed.insert(entry.id);
        const int row = static_cast<int>(i);
        QListWidgetItem* item = nullptr;
        if (const auto it = items.find(entry.id); it != items.end()) {
            item = it->second;
            if (tasklist->row(item) != row) { // moved: rare, so selection is kept by hand
                const bool selected = item->isSelected();
                tasklist->takeItem(tasklist->row(item));
                tasklist->insertItem(row, item);
                item->setSelected(selected);
            }
        } else {
            item = new QListWidgetItem();
            tasklist->insertItem(row, item);
        }
        ShowTaskRow(item, entry, texts);
    }
    for (const auto& [id, item] : items) {
        if (!listed.count(id)) {
            delete item;
        }
    }
}

std::string TMainform::Msg(const std::string& key) const {
    return MessageText(texts_, key);
}

std::string TMainform::Format(const std::string& key, std::vector<FormatArg> args) const {
    return FormatMessageText(texts_, key, args);
}

void TMainform::ApplyWindowTexts() {
    ApplyQtTranslation();
    tasklist->setPlaceholderText(Q(Msg("C041")));
    UpdatePairWarning();
    SyncRows(); // the rows' tooltips
}

void TMainform::ApplyQtTranslation() {
    if (qtTranslator_) {
        QCoreApplication::removeTranslator(qtTranslator_.get());
        qtTranslator_.reset();
    }
    const std::string locale = QtLocaleOf(texts_);
    if (locale.empty()) {
        return; // Qt's own texts are English
    }
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(Q("qtbase_" + locale), Q(JoinPath(programFolder_, "translations"))) &&
        QCoreApplication::installTranslator(translator.get())) {
        qtTranslator_ = std::move(translator);
    }
}

void TMainform::BuildLanguageMenu() {
    Captions captions(*this);
    menu_ = pelldrin::BuildLanguageMenu(JoinPath(programFolder_, kLanguageFolderName),
                                        settings_.DefaultLanguage, texts_, captions);
    if (!menu_.applied) {
        // No usable file carries the saved name: English, rather than raw keys.
        texts_ = BuiltInLanguageTexts();
        ApplyCaptions(texts_, captions);
        if (!settings_.DefaultLanguage.empty()) { // a missing one is named with the others
            QTimer::singleShot(0, this, [this] {
                dialogs_->ShowError(Format("C018", {settings_.DefaultLanguage}), Msg("C016"));
            });
        }
    }
    ApplyWindowTexts();
    if (menu_.Empty()) {
        return; // no language files to choose from
    }
    languageMenu = mainmenu->addMenu(Q(menu_.caption.empty() ? Msg("C011") : menu_.caption));
    languageMenu->setObjectName("languageMenu");
    languageGroup = new QActionGroup(languageMenu);
    for (std::size_t i = 0; i < menu_.entries.size(); ++i) {
        QAction* item = languageMenu->addAction(Q(menu_.entries[i].name));
        item->setObjectName(Q("language" + std::to_string(i)));
        item->setToolTip(Q(menu_.entries[i].file));
        item->setStatusTip(Q(menu_.entries[i].file));
        item->setCheckable(true);
        item->setChecked(menu_.applied == i);
        languageGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, i] { LanguageClick(static_cast<int>(i)); });
    }
    languageMenu->addSeparator();
    languageMenu->addAction(aboutm);
}

void TMainform::LanguageClick(int entry) {
    Captions captions(*this);
    SwitchLanguage(menu_, static_cast<std::size_t>(entry), ConfigFile(), texts_, captions);
    ApplyWindowTexts();
    // The menu's own title follows at once, and the mark stays on the language shown (a
    // file that broke since the start is not applied).
    languageMenu->setTitle(Q(Msg("C011")));
    const auto items = languageGroup->actions();
    for (int i = 0; i < items.size(); ++i) {
        items[i]->setChecked(menu_.applied == static_cast<std::size_t>(i));
    }
}

void TMainform::ListStyles() {
    // An item's data is the style's file name, which the task keeps; the first item, no
    // style, has a caption of its own.
    stylebox->clear();
    stylebox->addItem(Q(CaptionText(texts_, "L035")), QString());
    for (const std::string& path : ListFiles(JoinPath(programFolder_, "srtstyle"), "*.style")) {
        const QString name = Q(FileNamePart(path));
        stylebox->addItem(name, name);
    }
    stylebox->setCurrentIndex(0);
}

bool TMainform::HasTray() const {
    return trayIcon != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainform::SetupTray() {
    trayIcon = new QSystemTrayIcon(windowIcon(), this);
    trayIcon->setObjectName("trayIcon");
    trayIcon->setToolTip("Pelldrin");
    trayIcon->setContextMenu(iconpop);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    ToggleShown();
                }
            });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayIcon->show();
    }
}

void TMainform::ToggleShown() {
    if (isVisible()) {
        hide();
    } else {
        showNormal();
        raise();
        activateWindow();
    }
}

void TMainform::SetRunning(bool running) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{actbtn, Pathedit, browsebtn, tasklist, group1, Group2}) {
        w->setEnabled(!running);
    }
    brkbtn->setEnabled(running);
    if (!running) {
        // Every question this window asks is about the run: once it has ended, a Yes
        // would stop nothing.
        dialogs_->CloseQuestions();
    }
}

void TMainform::ShowRunMessage(const std::string& message) {
    // A refused priority would otherwise ask once per task.
    if (message == lastRunMessage_) {
        return;
    }
    lastRunMessage_ = message;
    dialogs_->ShowError(message, Msg("C016"));
}

QListWidgetItem* TMainform::RowOf(std::uint64_t id) const {
    for (int i = 0; i < tasklist->count(); ++i) {
        QListWidgetItem* item = tasklist->item(i);
        if (item->data(kIdRole).toULongLong() == id) {
            return item;
        }
    }
    return nullptr;
}

void TMainform::AddDroppedFiles(const QStringList& paths) {
    DropReport report;
    for (const QString& file : paths) {
        const std::string path = S(file);
        if (IsAddress(path)) {
            report.notLocal.push_back(path);
        } else if (!path.empty() && QFileInfo(file).isDir()) {
            AddFolder(path, report);
        } else if (!IsSubtitleFile(path)) {
            report.notSubtitles.push_back(path);
        } else {
            AddTask(path, report);
        }
    }
    FlushModel();
    if (tasklist->count() > 0) {
        tasklist->scrollToItem(tasklist->item(tasklist->count() - 1));
    }
    TellDrop(report);
}

void TMainform::TellDrop(const DropReport& report) {
    std::vector<std::string> refusals;
    if (!report.notSubtitles.empty()) {
        refusals.push_back(NamedList(Msg("C001"), report.notSubtitles));
    }
    if (!report.notLocal.empty()) {
        refusals.push_back(NamedList(Msg("C032"), report.notLocal));
    }
    for (const auto& [folder, names] : report.skipped) {
        refusals.push_back(NamedList(Msg("C020") + "\n" + folder, names));
    }
    std::vector<std::string> notices;
    if (!report.duplicates.empty()) {
        notices.push_back(NamedList(Msg("C027"), report.duplicates));
    }
    if (!report.requeued.empty()) {
        notices.push_back(NamedList(Msg("C033"), report.requeued));
    }
    // One box for the whole drop: an error when anything was refused, else a notice.
    std::string text;
    for (const auto* group : {&refusals, &notices}) {
        for (const std::string& part : *group) {
            text += (text.empty() ? "" : "\n\n") + part;
        }
    }
    if (!refusals.empty()) {
        dialogs_->ShowError(text, Msg("C002"));
    } else if (!notices.empty()) {
        dialogs_->ShowInfo(text, Msg("C034"));
    }
}

void TMainform::AddFolder(const std::string& folder, DropReport& report) {
    // The folder's own files only, by name; sub-folders are not searched.
    std::vector<std::string> skipped;
    for (const std::string& path : ListFiles(folder, "*")) {
        if (!QFileInfo(Q(path)).isDir() && IsSubtitleFile(path)) {
            AddTask(path, report);
        } else {
            skipped.push_back(FileNamePart(path));
        }
    }
    if (!skipped.empty()) {
        report.skipped.emplace_back(folder, std::move(skipped));
    }
}

void TMainform::AddTask(const std::string& path, DropReport& report) {
    // A second row for a file would convert it into the same folder again: its one row keeps
    // its settings, which can be changed there.
    try {
        switch (queue_.AddFile(path, template_).outcome) {
        case TaskQueue::AddOutcome::Added:
            break;
        case TaskQueue::AddOutcome::AlreadyQueued:
            report.duplicates.push_back(path);
            break;
        case TaskQueue::AddOutcome::Requeued:
            report.requeued.push_back(path);
            break;
        }
    } catch (const std::exception& e) {
        dialogs_->ShowError(e.what(), Msg("C016"));
    }
}

void TMainform::addfilesmClick() {
    const std::string start = lastAddFolder_.empty() ? S(QDir::homePath()) : lastAddFolder_;
    const auto files =
        dialogs_->ChooseFiles(start, Msg("C030"), Msg("C039") + " (*.ass *.ssa *.srt)");
    if (files.empty()) {
        return;
    }
    lastAddFolder_ = FolderOf(files.front());
    WriteConfigValue(ConfigFile(), "Config", "AddFolder", lastAddFolder_);
    QStringList paths;
    for (const std::string& file : files) {
        paths << Q(file);
    }
    AddDroppedFiles(paths);
}

void TMainform::addfoldermClick() {
    const std::string start = lastAddFolder_.empty() ? S(QDir::homePath()) : lastAddFolder_;
    const std::string folder = dialogs_->ChooseFolder(start, Msg("C031"));
    if (folder.empty()) {
        return;
    }
    lastAddFolder_ = folder;
    WriteConfigValue(ConfigFile(), "Config", "AddFolder", lastAddFolder_);
    AddDroppedFiles({Q(folder)});
}

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
        }
    }
    showing_ = false;
    UpdatePairWarning();
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
    UpdatePairWarning();
}

void TMainform::UpdatePairWarning() {
    const RowTag tag = TagOf(
        WithTaskLineField(WithTaskLineField(template_, FormatIndex, SettingValue(FormatIndex)),
                          RateIndex, SettingValue(RateIndex)));
    const bool warn = !tag.format.isEmpty() && !tag.discPair;
    if (warn) {
        pairwarn->setText(Q(Format("C035", {S(tag.format), S(tag.rate)})));
    }
    pairwarn->setVisible(warn);
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

void TMainform::deltaskmClick() {
    for (const std::uint64_t id : SelectedIds()) {
        if (const auto index = queue_.IndexOf(id)) {
            queue_.Remove(*index);
        }
    }
    FlushModel();
}

void TMainform::ClmClick() {
    queue_.Clear();
    FlushModel();
}

QStringList PathsFromCommandLine(const QStringList& arguments) {
    QStringList paths;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        // Windows paths shown and written with backslashes, as the user knows them.
        paths << QDir::toNativeSeparators(QFileInfo(arguments[i]).absoluteFilePath());
    }
    return paths;
}

void TMainform::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void TMainform::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // "file://host/path" names a file of another computer: it stays an address, and
        // the drop refuses it with its reason.
        const bool local = url.isLocalFile() && (url.host().isEmpty() || url.host() == "localhost");
        paths << (local ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString());
    }
    event->acceptProposedAction();
    AddDroppedFiles(paths);
}

void TMainform::plvboxChange() {
    WriteConfigValue(ConfigFile(), "Config", "ProcessPriority", plvbox->currentIndex());
    const Settings reread = LoadSettings(ConfigFile(), programFolder_);
    settings_.OutputFolder = reread.OutputFolder;
    settings_.CloseToTray = reread.CloseToTray;
    settings_.DefaultLanguage = reread.DefaultLanguage;
    // The runner takes the list's position even when the file could not be written.
    settings_.PriorityIndex = plvbox->currentIndex();
}

void TMainform::closetcClick() {
    WriteConfigValue(ConfigFile(), "Config", "CloseTrayicon", closetc->isChecked() ? "1" : "0");
}

void TMainform::browsebtnClick() {
    std::string folder = dialogs_->ChooseFolder(settings_.OutputFolder, Msg("C012"));
    if (folder.empty()) {
        return;
    }
    if (!EndsWithSeparator(folder)) {
        folder += kPathSeparator;
    }
    Pathedit->setText(Q(folder));
}

void TMainform::PatheditChange() {
    settings_.OutputFolder = S(Pathedit->text());
    WriteConfigValue(ConfigFile(), "Path", "Output", settings_.OutputFolder);
}

void TMainform::actbtnClick() {
    std::string reason;
    const auto tools = ReadToolPaths(ConfigFile(), reason);
    if (!tools) {
        dialogs_->ShowError(Msg("C015") + "\n" + reason, Msg("C016"));
        return;
    }
    lastRunMessage_.clear();
    RunInputs inputs;
    inputs.currentFolder = programFolder_;
    inputs.converterPath = tools->converterPath;
    inputs.pluginPath = tools->pluginPath;
    inputs.outputFolder = settings_.OutputFolder;
    inputs.priorityIndex = plvbox->currentIndex();
    inputs.taskTimeLimit = ReadTaskTimeLimit(ConfigFile());
    switch (run_->Start(inputs)) {
    case TBatchRun::StartResult::EmptyQueue:
        dialogs_->ShowError(Msg("C003"), Msg("C004"));
        return;
    case TBatchRun::StartResult::AlreadyRunning:
        return;
    case TBatchRun::StartResult::Started:
        Timer1->start();
        return;
    }
}

void TMainform::brkbtnClick() {
    // The run may end while the question is open (which closes it, as No).
    if (dialogs_->AskYesNo(Msg("C009"), Msg("C008")) && run_->BatchRunning()) {
        run_->RequestStop();
    }
}

void TMainform::Timer1Timer() {
    const auto notice = run_->Tick();
    if (!notice) {
        return;
    }
    Timer1->stop();
    std::string text = Format("C005", {std::int64_t{notice->elapsedTicks}});
    if (notice->failedTasks > 0) {
        text += "\n" + Format("C013", {std::int64_t{notice->failedTasks}});
    }
    if (notice->warnedTasks > 0) {
        text += "\n" + Format("C017", {std::int64_t{notice->warnedTasks}});
    }
    if (notice->stopped) {
        text += "\n" + Msg("C026");
    }
    dialogs_->ShowInfo(text, Msg("C006"));
    progbar->setValue(0);
    cprogbar->setValue(0);
}

void TMainform::showmClick() {
    ToggleShown();
}

bool TMainform::ConfirmQuit() {
    if (!run_->BatchRunning()) {
        return true;
    }
    if (!dialogs_->AskYesNo(Msg("C007"), Msg("C008"))) {
        return false;
    }
    // The converter must not outlive the program: stop it before closing.
    run_->StopAndWait(std::chrono::milliseconds(kQuitWaitMs));
    return true;
}

void TMainform::quitmClick() {
    if (!ConfirmQuit()) {
        return;
    }
    quitting_ = true;
    close();
}

std::optional<TaskEntry> TMainform::SelectedEntry() const {
    const auto ids = SelectedIds();
    if (ids.empty()) {
        return std::nullopt;
    }
    const auto index = queue_.IndexOf(ids.front());
    return index ? queue_.Get(*index) : std::nullopt;
}

void TMainform::previewmClick() {
    const auto task = SelectedEntry();
    if (!task) {
        return;
    }
    const std::string& path = task->path;
    const std::string& taskLine = task->taskLine;
    // The script goes into a folder of the preview's own: the task's output stays untouched.
    auto folder = std::make_unique<QTemporaryDir>();
    std::optional<PreviewSource> source;
    QString error;
    std::string reason;
    if (!folder->isValid()) {
        error = "cannot create a temporary folder: " + folder->errorString();
    } else if (const auto tools = ReadToolPaths(ConfigFile(), reason); !tools) {
        error = Q(Msg("C015") + "\n" + reason);
    } else {
        try {
            source = PreparePreview(path, taskLine, programFolder_, *tools, S(folder->path()));
        } catch (const std::exception& e) {
            error = Q(e.what());
        }
    }
    PreviewTexts texts{Q(Format("C021", {FileNamePart(path)})), Q(Msg("C022")), Q(Msg("C023"))};
    delete previewForm;
    previewForm =
        new TPreviewForm(std::move(folder), std::move(source), error, std::move(texts), this);
    previewForm->setAttribute(Qt::WA_DeleteOnClose);
    previewForm->show();
}

void TMainform::showwarnmClick() {
    const auto task = SelectedEntry();
    if (!task || task->warnings.empty()) {
        return;
    }
    QStringList warnings;
    for (const std::string& line : task->warnings) {
        warnings << Q(line);
    }
    delete warningsForm;
    const TextFormTexts texts{Q(Format("C028", {FileNamePart(task->path)})),
                              Q(CaptionText(texts_, "L028")), Q(CaptionText(texts_, "L031"))};
    warningsForm = new TTextForm(warnings.join('\n'), texts, false, this);
    warningsForm->setObjectName("warningsForm");
    warningsForm->setAttribute(Qt::WA_DeleteOnClose);
    warningsForm->resize(640, 320);
    warningsForm->show();
}

void TMainform::openfoldermClick() {
    const auto task = SelectedEntry();
    if (!task) {
        return;
    }
    // A converted task's own folder; for a queued one, the folder an earlier conversion
    // left, else the output folder it will go into.
    std::string folder = task->folder;
    if (folder.empty()) {
        folder = settings_.OutputFolder;
        try {
            const std::string own =
                JoinPath(settings_.OutputFolder,
                         ChooseTaskFolderName(task->path, programFolder_, settings_.OutputFolder));
            if (QFileInfo(Q(own)).isDir()) {
                folder = own;
            }
        } catch (const std::exception&) {
            // No name to look for: the output folder it is.
        }
    }
    if (!dialogs_->OpenFolder(folder)) {
        dialogs_->ShowError(Format("C029", {folder}), Msg("C016"));
    }
}

void TMainform::aboutmClick() {
    delete aboutForm;
    const AboutTexts texts{
        {Q(Msg("C024")), Q(CaptionText(texts_, "L028")), Q(CaptionText(texts_, "L031"))},
        Q(Format("C025", {std::string(kLicenceFileName)})),
        Q(Format("C025", {std::string(kNoticesFileName)}))};
    aboutForm = new TAboutForm(programFolder_, kProgramVersion, texts, this);
    aboutForm->setAttribute(Qt::WA_DeleteOnClose);
    aboutForm->show();
}

void TMainform::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && closetc->isChecked() &&
        HasTray()) {
        // Hidden to the tray rather than minimised; only possible with a tray to
        // bring it back from.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
        });
    }
}

void TMainform::closeEvent(QCloseEvent* event) {
    if (!quitting_ && run_->BatchRunning()) {
        if (HasTray()) {
            // Closing during a run keeps the run going; the window comes back from the tray.
            event->ignore();
            hide();
            return;
        }
        // Nothing to come back from: closing is quitting.
        if (!ConfirmQuit()) {
            event->ignore();
            return;
        }
    }
    NotePlace();
    if (place_) {
        WriteWindowPlace(ConfigFile(), *place_);
    }
    if (trayIcon) {
        trayIcon->hide();
    }
    FlushModel();
    event->accept();
    QApplication::quit();
}

} // namespace pelldrin

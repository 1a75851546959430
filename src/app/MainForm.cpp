#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/PreviewForm.h"
#include "app/QtText.h"
#include "app/Releases.h"
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
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <iostream>
#include <set>
#include <stdexcept>
#include <unordered_map>

namespace pelldrin {

namespace {

constexpr int kQuitWaitMs = 10000; // longest wait for the converter to end when quitting

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
    trackReader_ = std::make_shared<MatroskaTrackReader>();
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
    connect(colourbox, &QComboBox::currentIndexChanged, this, &TMainform::colourboxChange);
    connect(whitebox, &QSpinBox::valueChanged, this, &TMainform::whiteboxChange);
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
    texts.track = Q(Msg("C061"));
    texts.pairWarning = [this](const QString& format, const QString& rate) {
        return Q(Format("C035", {S(format), S(rate)}));
    };
    texts.hdrWarning = [this](const QString& format) { return Q(Format("C042", {S(format)})); };
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
    whitebox->setToolTip(Q(Msg("C044")));
    UpdateSettingWarnings();
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
    inputs.trackReader = trackReader_.get();
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
    PreviewPreparation prepare;
    QString error;
    std::string reason;
    if (!folder->isValid()) {
        error = "cannot create a temporary folder: " + folder->errorString();
    } else if (const auto tools = ReadToolPaths(ConfigFile(), reason); !tools) {
        error = Q(Msg("C015") + "\n" + reason);
    } else if (task->track) {
        // A release's track is read into its task folder as the run reads it, and once: the
        // run takes it from there.
        prepare = [reader = trackReader_, track = *task->track, path, taskLine,
                   program = programFolder_, output = settings_.OutputFolder, tools = *tools,
                   scriptFolder = S(folder->path())](const TrackReadCallbacks& callbacks) {
            const TrackSubtitle read =
                PrepareTrackSubtitle(*reader, path, track, program, output, callbacks);
            PreviewSource prepared =
                PreparePreview(read.subtitlePath, taskLine, program, tools, scriptFolder);
            prepared.warnings.insert(prepared.warnings.begin(), read.warnings.begin(),
                                     read.warnings.end());
            return prepared;
        };
    } else {
        try {
            source = PreparePreview(path, taskLine, programFolder_, *tools, S(folder->path()));
        } catch (const std::exception& e) {
            error = Q(e.what());
        }
    }
    // The row's text but for the file's folder: the name, and a release's track.
    const std::string shownName =
        FileNamePart(path) + RowText(*task, Msg("C061")).substr(path.size());
    PreviewTexts texts{Q(Format("C021", {shownName})), Q(Msg("C022")), Q(Msg("C023")), QString(),
                       [this](int percent) { return Q(Format("C059", {std::int64_t{percent}})); }};
    // The renderer draws the preview as authored whatever the task's colours: say so.
    std::int64_t white = 0;
    if (TaskLineField(taskLine, Colour) == kHdr10Colour &&
        TryParseInt(TaskLineField(taskLine, White), white)) {
        texts.colourNote = Q(Format("C043", {white}));
    }
    delete previewForm;
    previewForm =
        prepare
            ? new TPreviewForm(std::move(folder), std::move(prepare), std::move(texts), this)
            : new TPreviewForm(std::move(folder), std::move(source), error, std::move(texts), this);
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
            const std::string name =
                task->track
                    ? ChooseTrackFolderName(task->path, *task->track,
                                            trackReader_->SubtitleName(task->path, *task->track),
                                            programFolder_, settings_.OutputFolder)
                    : ChooseTaskFolderName(task->path, programFolder_, settings_.OutputFolder);
            const std::string own = JoinPath(settings_.OutputFolder, name);
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

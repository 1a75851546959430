// The program's one window: output folder, task list, progress, per-task
// settings, run options, start and stop, the language menu and the tray icon.
#pragma once

#include "app/Dialogs.h"
#include "app/TaskRowView.h"
#include "batch/BatchWorker.h"
#include "batch/TaskQueue.h"
#include "batch/TrackSubtitle.h"
#include "settings/ConfigStore.h"
#include "settings/Language.h"

#include "PelldrinVersion.h"

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSystemTrayIcon;
class QTimer;
class QTranslator;
class QVBoxLayout;

namespace pelldrin {

class TAboutForm;
class TPreviewForm;
class TTextForm;

// The files and folders named on a command line (after the program's name), as
// absolute paths, so "open with" and `pelldrin a.ass season2/` queue them.
QStringList PathsFromCommandLine(const QStringList& arguments);

class TMainform : public QMainWindow {
    Q_OBJECT

  public:
    // programFolder is the folder the program runs in (config.xml, lang/,
    // srtstyle/); dialogs answers every message box and the folder chooser.
    TMainform(std::string programFolder, IDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TMainform() override;

    // Queues the accepted files among paths, in order. A folder adds its own subtitle files
    // and Matroska releases by name. A release's one text track becomes a task; the tracks of
    // releases with several are chosen once for the whole drop (the first such release's
    // tracks, matched in the others). One message afterwards lists what was refused (and
    // why) and what was listed already; a converted row's file dropped again waits again,
    // with its own settings.
    void AddDroppedFiles(const QStringList& paths);

    TaskQueue& Queue() { return queue_; }
    // The TaskLine the next added file gets (its name tag aside): what the settings show
    // while no row is selected.
    const std::string& TemplateLine() const { return template_; }
    TBatchRun& Run() { return *run_; }
    const Settings& CurrentSettings() const { return settings_; }
    // The text of a message slot, with the built-in English text where the language file has none.
    std::string Msg(const std::string& key) const;
    bool HasTray() const;

    // Handlers, named after their controls.
    void actbtnClick();
    void brkbtnClick();
    void Timer1Timer();
    // Shows the selected rows' settings (the first one's), or the template without a selection.
    void tasklistClick();
    void lboxChange();
    void FPSboxChange();
    void ensupboxClick();
    void EnFirstBlackClick();
    void CmdeditChange();
    void styleboxChange();
    void EnEndBlackClick();
    void colourboxChange();
    void whiteboxChange();
    // Removes the selected rows (also the Delete key).
    void deltaskmClick();
    void ClmClick();
    // The file chooser (several files at once) and the folder chooser of the File menu; both
    // start in the folder last added from.
    void addfilesmClick();
    void addfoldermClick();
    void plvboxChange();
    void closetcClick();
    void browsebtnClick();
    void PatheditChange();
    void showmClick();
    void quitmClick();
    // Opens the preview of the selected row's task (replacing an open one), also for a row
    // whose task was converted.
    void previewmClick();
    // Shows the selected row's warnings in full, in a box they can be copied from.
    void showwarnmClick();
    // Opens the selected row's output folder in the platform's file manager: the folder the
    // task was converted into, or else the output folder.
    void openfoldermClick();
    // Opens the About box, read afresh from the program folder.
    void aboutmClick();
    // A click on a language menu item: saves and applies that language.
    void LanguageClick(int entry);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class Host; // carries the worker's reports onto the window's thread (BatchBridge.cpp)
    friend class Host;
    std::unique_ptr<IBatchHost> MakeHost();

    void BuildControls();
    void BuildPathRow(QWidget* central, QVBoxLayout* top);
    void BuildTaskList(QWidget* central, QVBoxLayout* top);
    void BuildProgressFrames(QWidget* central, QVBoxLayout* top);
    void BuildTaskSettings(QWidget* central, QHBoxLayout* groups);
    void BuildRunOptions(QWidget* central, QHBoxLayout* groups);
    void ConnectHandlers();
    // Sizes the window and puts it at its remembered place, or centred at its least size.
    void PlaceWindow();
    // Makes the window's least size fit its controls as they are shown; returns it.
    QSize FitLeastSize();
    // Notes the window's place while it is shown normally, to be saved when it closes.
    void NotePlace();
    void LoadStartupState();
    void BuildLanguageMenu();
    void ListStyles();
    void SetupTray();
    void SetCaption(const std::string& key, const std::string& text);
    // Puts language captions onto the controls.
    struct Captions : ICaptionTarget {
        explicit Captions(TMainform& f) : form(f) {}
        void SetCaption(const std::string& key, const std::string& text) override {
            form.SetCaption(key, text);
        }
        TMainform& form;
    };
    std::string Format(const std::string& key, std::vector<FormatArg> args) const;
    void SetRunning(bool running);

    // The task settings: each control that edits a TaskLine field, read and written through
    // one table (MainForm.cpp), so a new setting is one entry there.
    void ShowSettings(const std::string& taskLine);
    std::string SettingValue(int field) const;
    // A control changed field: the selected rows take the value, or the template without a
    // selection; never another row.
    void SettingChanged(int field);
    // Shows, under the settings, that discs do not use the shown format at the shown rate,
    // or that an HDR10 task cannot have the shown format; the white applies to HDR10 alone.
    void UpdateSettingWarnings();
    // The ids of the selected rows, in list order.
    std::vector<std::uint64_t> SelectedIds() const;
    // The first selected row's entry, queued or converted.
    std::optional<TaskEntry> SelectedEntry() const;
    QListWidgetItem* RowOf(std::uint64_t id) const;

    // The list follows the queue and the queue file is written: at once after the window's
    // own changes, and once per turn of the event loop after the worker's.
    void FlushModel();
    void SyncRows();
    // A failure is told in a box once; the closing window, having no owner for a box, says it
    // on standard error.
    void SaveQueue(bool tellInBox = true);
    void RestoreQueue();
    TaskRowTexts RowTexts() const;
    // The texts that are no control's caption: Qt's own (buttons, choosers), the empty
    // list's hint, the rows' tooltips and the pair warning, in the language shown.
    void ApplyWindowTexts();
    void ApplyQtTranslation();
    void ShowRunMessage(const std::string& message);

    // What a drop did besides adding rows, told in one message.
    struct DropReport {
        std::vector<std::string> notSubtitles; // refused: not a subtitle file or a release
        std::vector<std::string> notLocal;     // refused: an address of another computer
        std::vector<std::pair<std::string, std::vector<std::string>>> skipped; // per folder
        std::vector<std::string> noTextTrack; // refused: a release without a text track
        std::vector<std::string> unreadable;  // refused: a release that could not be read, why
        std::vector<std::string> unmatched;   // releases no chosen track matched
        std::vector<std::string> duplicates;  // listed and waiting already
        std::vector<std::string> requeued;    // converted rows that wait again
        // The files the drop holds so far: a file dropped beside its folder is one file.
        std::set<std::string> collected;
    };
    struct DropItem; // a file of a drop, in order, with a release's head and tracks
    void CollectFile(const std::string& path, std::vector<DropItem>& items, DropReport& report);
    void AddFolder(const std::string& folder, std::vector<DropItem>& items, DropReport& report);
    // Asks once which tracks the drop's releases with several text tracks give tasks.
    void ChooseReleaseTracks(std::vector<DropItem>& items, DropReport& report);
    void AddTask(const std::string& path, const std::optional<TaskTrack>& track,
                 DropReport& report);
    void TellDrop(const DropReport& report);
    // During a run, asks whether to stop it and quit (and stops it on Yes); true when the
    // program may end.
    bool ConfirmQuit();
    void ToggleShown();
    std::string ConfigFile() const;

    std::string programFolder_;
    std::unique_ptr<IDialogs> ownDialogs_;
    IDialogs* dialogs_;
    Settings settings_;
    TaskQueue queue_;
    std::unique_ptr<IBatchHost> host_;
    // Reads releases' tracks for the run and the preview (which may outlive the window's
    // members as the window's child, hence shared).
    std::shared_ptr<ITrackReader> trackReader_;
    std::unique_ptr<TBatchRun> run_;
    LanguageTexts texts_;
    LanguageMenu menu_;
    bool quitting_ = false;
    std::optional<WindowPlace> place_; // the window's place while shown normally
    std::string lastRunMessage_;       // the run's last message, shown once per run
    std::string template_;             // the TaskLine for the next added file
    bool showing_ = false;             // the settings are being shown, not changed
    std::atomic<bool> flushPending_{false};
    bool saveQueue_ = true;     // false when an unreadable queue file could not be set aside
    std::string lastSaveError_; // told once, until a save succeeds again
    std::string lastAddFolder_; // where Add files... and Add folder... start
    std::unique_ptr<QTranslator> qtTranslator_;

  public:
    // Controls, named as the window's layout names them (also their objectName).
    QFrame* TntPanel1 = nullptr;
    QLabel* Pathlabel = nullptr;
    QLineEdit* Pathedit = nullptr;
    QPushButton* browsebtn = nullptr;
    TaskListWidget* tasklist = nullptr;
    QGroupBox* TntGroupBox1 = nullptr;
    QLabel* TntLabel1 = nullptr;
    QProgressBar* cprogbar = nullptr;
    QGroupBox* TntGroupBox2 = nullptr;
    QLabel* Proglabel = nullptr;
    QProgressBar* progbar = nullptr;
    QGroupBox* group1 = nullptr;
    QLabel* fblabel = nullptr;
    QComboBox* lbox = nullptr;
    QLabel* Srtlabel = nullptr;
    QComboBox* stylebox = nullptr;
    QLabel* Fpslabel = nullptr;
    QComboBox* FPSbox = nullptr;
    QCheckBox* ensupbox = nullptr;
    QCheckBox* EnEndBlack = nullptr;
    QCheckBox* EnFirstBlack = nullptr;
    QLabel* pairwarn = nullptr; // a format and rate pair that discs do not use
    QLabel* Colourlabel = nullptr;
    QComboBox* colourbox = nullptr; // SDR or HDR10
    QLabel* Whitelabel = nullptr;
    QSpinBox* whitebox = nullptr; // the subtitle's white of an HDR10 task, in cd/m²
    QLabel* hdrwarn = nullptr;    // HDR10 with a format other than 1080P
    QLabel* Cmdlabel = nullptr;
    QLineEdit* Cmdedit = nullptr;
    QGroupBox* Group2 = nullptr;
    QCheckBox* closetc = nullptr;
    QLabel* Proghlabel = nullptr;
    QComboBox* plvbox = nullptr;
    QPushButton* actbtn = nullptr;
    QPushButton* brkbtn = nullptr;
    QMenu* pmenu1 = nullptr;
    QAction* deltaskm = nullptr;
    QAction* Clm = nullptr;
    QAction* previewm = nullptr;
    QAction* showwarnm = nullptr;
    QAction* openfolderm = nullptr;
    QAction* aboutm = nullptr; // in the language menu and the tray menu
    QMenu* iconpop = nullptr;
    QAction* showm = nullptr;
    QAction* quitm = nullptr;
    QMenuBar* mainmenu = nullptr;
    QMenu* fileMenu = nullptr;
    QAction* addfilesm = nullptr;
    QAction* addfolderm = nullptr;
    QMenu* languageMenu = nullptr;
    QActionGroup* languageGroup = nullptr; // the language items; the applied one is checked
    QTimer* Timer1 = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QPointer<TPreviewForm> previewForm; // the open preview, if any
    QPointer<TAboutForm> aboutForm;     // the open About box, if any
    QPointer<TTextForm> warningsForm;   // the open list of a row's warnings, if any
};

} // namespace pelldrin

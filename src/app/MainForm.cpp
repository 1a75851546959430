#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/PreviewForm.h"
#include "app/TextForm.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/VideoFormats.h"
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
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>
#include <type_traits>

namespace pelldrin {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

constexpr int kQuitWaitMs = 10000;   // longest wait for the converter to end when quitting
constexpr int kMaxSkippedNames = 20; // names listed in a folder drop's message

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

bool IsSubtitleFile(const std::string& path) {
    const std::string ext = FileExtension(path);
    return !path.empty() &&
           (SameTextN(ext, ".ass", 4) || SameTextN(ext, ".ssa", 4) || SameTextN(ext, ".srt", 4));
}

// What a task row keeps besides its text (the subtitle's path). A converted row is no
// longer queued, so it keeps its TaskLine, warnings and folder itself.
enum RowRole : int {
    kIdRole = Qt::UserRole, // the task's queue id
    kTaskLineRole,          // the TaskLine, kept equal to the queue's while queued
    kWarningsRole,          // the warnings of a converted task (QStringList)
    kFolderRole,            // the folder a converted task was written into
};

// The format and rate a row shows beside its file, as the lists name them.
QString RowTag(const QString& taskLine) {
    try {
        std::int64_t formatIndex = -1;
        const std::string line = taskLine.toStdString();
        const VideoFormat* format = TryParseInt(TaskLineField(line, FormatIndex), formatIndex)
                                        ? VideoFormatFor(formatIndex)
                                        : nullptr;
        const FrameRate* rate = FrameRateFor(TaskLineField(line, RateIndex));
        if (format && rate) {
            return Q(std::string(format->listText) + "  " + std::string(rate->listText));
        }
    } catch (const TaskLineError&) {
    }
    return {};
}

// Draws a task row: the path, shortened in its middle where the row is too narrow, and the
// task's format and rate at the row's right end.
class TaskRowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Narrow, so that a row is as wide as the list and the list never scrolls sideways.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {option.fontMetrics.height(), QStyledItemDelegate::sizeHint(option, index).height()};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QString tag = RowTag(index.data(kTaskLineRole).toString());
        QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
        if (tag.isEmpty()) {
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
            return;
        }
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
        const int tagWidth = opt.fontMetrics.horizontalAdvance(tag) + opt.fontMetrics.height();
        opt.text = opt.fontMetrics.elidedText(opt.text, Qt::ElideMiddle,
                                              std::max(0, textRect.width() - tagWidth));
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        painter->save();
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        painter->setPen(
            opt.palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
        painter->drawText(textRect.adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, tag);
        painter->restore();
    }
};

} // namespace

// Carries the worker's reports onto the window's thread; never blocks the worker.
class TMainform::Host : public IBatchHost {
  public:
    explicit Host(TMainform& form) : form_(form) {}

    void SetTotalProgress(int position, int maximum) override {
        Post([this, position, maximum] {
            form_.progbar->setMaximum(std::max(maximum, 1));
            form_.progbar->setValue(position);
        });
    }
    void SetCurrentProgress(int position, int maximum) override {
        // A converter may print thousands of progress lines a second: keep the
        // latest value and post at most one update at a time.
        currentPosition_.store(position);
        currentMaximum_.store(maximum);
        if (currentPending_.exchange(true)) {
            return;
        }
        Post([this] {
            currentPending_.store(false);
            const int maximum = std::max(currentMaximum_.load(), 1);
            form_.cprogbar->setMaximum(maximum);
            form_.cprogbar->setValue(std::clamp(currentPosition_.load(), 0, maximum));
        });
    }
    void TaskStarted(std::uint64_t id) override {
        Post([this, id] {
            if (auto* item = form_.RowOf(id)) {
                form_.MarkRow(item, RowMark::Queued, {});
                form_.tasklist->scrollToItem(item);
            }
        });
    }
    void TaskFinished(std::uint64_t id) override {
        Post([this, id] { delete form_.RowOf(id); });
    }
    void TaskFinishedWithWarnings(std::uint64_t id,
                                  const std::vector<std::string>& warnings) override {
        // Called on the worker's thread before it takes the next task, so the current
        // task folder is still this task's.
        const std::string folder = form_.run_->CurrentTaskFolder();
        Post([this, id, warnings, folder] {
            if (auto* item = form_.RowOf(id)) {
                QStringList lines;
                for (const std::string& line : warnings) {
                    lines << Q(line);
                }
                item->setData(kWarningsRole, lines);
                item->setData(kFolderRole, Q(folder));
                form_.MarkRow(item, RowMark::Warned, JoinLines(warnings));
            }
        });
    }
    void TaskFailed(std::uint64_t id, const std::string& reason) override {
        Post([this, id, reason] {
            if (auto* item = form_.RowOf(id)) {
                form_.MarkRow(item, RowMark::Failed, reason);
            }
        });
    }
    void PriorityRefused(const std::string& message) override {
        // The runner's text is fixed; the line below it is in the user's language.
        Post([this, message] { form_.ShowRunMessage(message + "\n" + form_.Msg("C019")); });
    }
    void RunStateChanged(bool running) override {
        Post([this, running] { form_.SetRunning(running); });
    }
    void RunMessage(const std::string& message) override {
        Post([this, message] { form_.ShowRunMessage(message); });
    }

  private:
    template <typename F> void Post(F&& f) {
        if (QThread::currentThread() == form_.thread()) {
            f();
        } else {
            QMetaObject::invokeMethod(&form_, std::forward<F>(f), Qt::QueuedConnection);
        }
    }
    TMainform& form_;
    std::atomic<int> currentPosition_{0};
    std::atomic<int> currentMaximum_{1};
    std::atomic<bool> currentPending_{false};
};

TMainform::TMainform(std::string programFolder, IDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), programFolder_(std::move(programFolder)) {
    if (!dialogs) {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
    host_ = std::make_unique<Host>(*this);
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
    PlaceWindow();
}

TMainform::~TMainform() {
    // The worker reports to this window: end it before the controls go.
    run_->StopAndWait(std::chrono::milliseconds(kQuitWaitMs));
    run_.reset();
}

std::string TMainform::ConfigFile() const {
    return JoinPath(programFolder_, kConfigFileName);
}

namespace {

// Every named control of the window, with the language key of its caption (or none): the
// one place that ties a caption to a control. Until a language applies, a control shows
// its key, so a missing caption is easy to spot.
struct ControlEntry {
    const char* name;       // objectName, also the member's name
    const char* captionKey; // nullptr: no language caption
};

constexpr ControlEntry kControlTable[] = {
    {"TntPanel1", nullptr},  {"Pathlabel", "L001"},  {"Pathedit", nullptr},
    {"browsebtn", "L002"},   {"tasklist", nullptr},  {"pmenu1", nullptr},
    {"deltaskm", "L016"},    {"Clm", "L017"},        {"TntGroupBox1", nullptr},
    {"TntLabel1", "L023"},   {"cprogbar", nullptr},  {"TntGroupBox2", nullptr},
    {"Proglabel", "L003"},   {"progbar", nullptr},   {"group1", "L004"},
    {"fblabel", "L005"},     {"lbox", nullptr},      {"Srtlabel", "L010"},
    {"stylebox", nullptr},   {"Fpslabel", "L006"},   {"FPSbox", nullptr},
    {"ensupbox", "L007"},    {"EnEndBlack", "L020"}, {"EnFirstBlack", "L008"},
    {"Cmdlabel", "L009"},    {"Cmdedit", nullptr},   {"Group2", "L011"},
    {"closetc", "L012"},     {"Proghlabel", "L013"}, {"plvbox", nullptr},
    {"actbtn", "L014"},      {"brkbtn", "L015"},     {"iconpop", nullptr},
    {"showm", "L018"},       {"quitm", "L019"},      {"Timer1", nullptr},
    {"previewm", "L021"},    {"aboutm", "L022"},     {"showwarnm", "L029"},
    {"openfolderm", "L030"},
};

// The items of plvbox, in its order, by their caption keys.
constexpr const char* kPriorityKeys[] = {"L024", "L025", "L026", "L027"};

const ControlEntry& ControlNamed(std::string_view name) {
    for (const ControlEntry& entry : kControlTable) {
        if (name == entry.name) {
            return entry;
        }
    }
    throw std::logic_error("no control named " + std::string(name));
}

QString PlaceholderCaption(std::string_view name) {
    const char* key = ControlNamed(name).captionKey;
    return key ? QString(key) : QString();
}

// A new control named from the table, showing its caption key until a language applies.
template <typename T> T* Make(QObject* parent, const char* name) {
    T* control = nullptr;
    if constexpr (std::is_base_of_v<QWidget, T>) {
        control = new T(qobject_cast<QWidget*>(parent));
    } else {
        control = new T(parent);
    }
    control->setObjectName(name);
    const QString caption = PlaceholderCaption(name);
    if (!caption.isEmpty()) {
        if constexpr (std::is_base_of_v<QGroupBox, T>) {
            control->setTitle(caption);
        } else if constexpr (requires { control->setText(caption); }) {
            control->setText(caption);
        }
    }
    return control;
}

QAction* MakeAction(QMenu* menu, const char* name) {
    QAction* action = menu->addAction(PlaceholderCaption(name));
    action->setObjectName(name);
    return action;
}

} // namespace

void TMainform::BuildControls() {
    auto* central = new QWidget(this);
    central->setObjectName("client");
    setCentralWidget(central);
    auto* top = new QVBoxLayout(central);
    top->setContentsMargins(5, 5, 5, 5);
    top->setSpacing(4);
    BuildPathRow(central, top);
    BuildTaskList(central, top);
    BuildProgressFrames(central, top);
    auto* groups = new QHBoxLayout();
    BuildTaskSettings(central, groups);
    BuildRunOptions(central, groups);
    top->addLayout(groups);

    auto* buttons = new QHBoxLayout();
    actbtn = Make<QPushButton>(central, "actbtn");
    brkbtn = Make<QPushButton>(central, "brkbtn");
    brkbtn->setEnabled(false);
    buttons->addWidget(actbtn);
    buttons->addWidget(brkbtn);
    top->addLayout(buttons);

    mainmenu = menuBar();
    mainmenu->setObjectName("mainmenu");
    Timer1 = Make<QTimer>(this, "Timer1");
    Timer1->setInterval(1000);
    iconpop = Make<QMenu>(this, "iconpop");
    showm = MakeAction(iconpop, "showm");
    aboutm = MakeAction(iconpop, "aboutm");
    iconpop->addSeparator();
    quitm = MakeAction(iconpop, "quitm");
    ConnectHandlers();
}

void TMainform::BuildPathRow(QWidget* central, QVBoxLayout* top) {
    TntPanel1 = Make<QFrame>(central, "TntPanel1");
    auto* pathRow = new QHBoxLayout(TntPanel1);
    pathRow->setContentsMargins(0, 0, 0, 0);
    Pathlabel = Make<QLabel>(TntPanel1, "Pathlabel");
    Pathedit = Make<QLineEdit>(TntPanel1, "Pathedit");
    Pathedit->setText("/");
    Pathedit->setReadOnly(true);
    browsebtn = Make<QPushButton>(TntPanel1, "browsebtn");
    pathRow->addWidget(Pathlabel);
    pathRow->addWidget(Pathedit, 1);
    pathRow->addWidget(browsebtn);
    top->addWidget(TntPanel1);
}

void TMainform::BuildTaskList(QWidget* central, QVBoxLayout* top) {
    tasklist = Make<QListWidget>(central, "tasklist");
    tasklist->setSelectionMode(QAbstractItemView::SingleSelection);
    tasklist->setContextMenuPolicy(Qt::CustomContextMenu);
    tasklist->setTextElideMode(Qt::ElideMiddle);
    tasklist->setMinimumHeight(80);
    tasklist->setItemDelegate(new TaskRowDelegate(tasklist));
    pmenu1 = Make<QMenu>(tasklist, "pmenu1");
    previewm = MakeAction(pmenu1, "previewm");
    showwarnm = MakeAction(pmenu1, "showwarnm");
    openfolderm = MakeAction(pmenu1, "openfolderm");
    pmenu1->addSeparator();
    deltaskm = MakeAction(pmenu1, "deltaskm");
    Clm = MakeAction(pmenu1, "Clm");
    top->addWidget(tasklist, 1);
}

void TMainform::BuildProgressFrames(QWidget* central, QVBoxLayout* top) {
    TntGroupBox1 = Make<QGroupBox>(central, "TntGroupBox1");
    auto* currentRow = new QHBoxLayout(TntGroupBox1);
    currentRow->setContentsMargins(5, 2, 5, 2);
    TntLabel1 = Make<QLabel>(TntGroupBox1, "TntLabel1");
    cprogbar = Make<QProgressBar>(TntGroupBox1, "cprogbar");
    cprogbar->setValue(0);
    currentRow->addWidget(TntLabel1);
    currentRow->addWidget(cprogbar, 1);
    top->addWidget(TntGroupBox1);

    TntGroupBox2 = Make<QGroupBox>(central, "TntGroupBox2");
    auto* totalRow = new QHBoxLayout(TntGroupBox2);
    totalRow->setContentsMargins(5, 2, 5, 2);
    Proglabel = Make<QLabel>(TntGroupBox2, "Proglabel");
    progbar = Make<QProgressBar>(TntGroupBox2, "progbar");
    progbar->setValue(0);
    totalRow->addWidget(Proglabel);
    totalRow->addWidget(progbar, 1);
    top->addWidget(TntGroupBox2);
}

void TMainform::BuildTaskSettings(QWidget* central, QHBoxLayout* groups) {
    group1 = Make<QGroupBox>(central, "group1");
    fblabel = Make<QLabel>(group1, "fblabel");
    lbox = Make<QComboBox>(group1, "lbox");
    for (std::size_t i = 0; i < kTaskFormatCount; ++i) {
        lbox->addItem(Q(std::string(kVideoFormats[i].listText)));
    }
    Srtlabel = Make<QLabel>(group1, "Srtlabel");
    stylebox = Make<QComboBox>(group1, "stylebox");
    Fpslabel = Make<QLabel>(group1, "Fpslabel");
    FPSbox = Make<QComboBox>(group1, "FPSbox");
    for (std::size_t i = 0; i < kTaskRateCount; ++i) {
        FPSbox->addItem(Q(std::string(kFrameRates[i].listText)));
    }
    ensupbox = Make<QCheckBox>(group1, "ensupbox");
    EnEndBlack = Make<QCheckBox>(group1, "EnEndBlack");
    EnFirstBlack = Make<QCheckBox>(group1, "EnFirstBlack");
    for (QCheckBox* box : {ensupbox, EnEndBlack, EnFirstBlack}) {
        box->setChecked(true);
    }
    Cmdlabel = Make<QLabel>(group1, "Cmdlabel");
    Cmdedit = Make<QLineEdit>(group1, "Cmdedit");
    Cmdedit->setText(kDefaultCommandTemplate);
    Cmdedit->setCursorPosition(0);
    // "|" separates the fields of a task record, so the template may not hold one.
    Cmdedit->setValidator(new QRegularExpressionValidator(QRegularExpression("[^|]*"), Cmdedit));
    // Long style names or items must not widen the fixed-size window.
    for (QComboBox* box : {lbox, stylebox, FPSbox}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(6);
    }
    auto* g1 = new QGridLayout(group1);
    g1->setContentsMargins(5, 2, 5, 3);
    g1->setVerticalSpacing(2);
    int row = 0;
    for (auto [label, field] :
         {std::pair<QWidget*, QWidget*>{fblabel, lbox}, {Srtlabel, stylebox}, {Fpslabel, FPSbox}}) {
        g1->addWidget(label, row, 0);
        g1->addWidget(field, row++, 1);
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{ensupbox, EnEndBlack, EnFirstBlack, Cmdlabel, Cmdedit}) {
        g1->addWidget(w, row++, 0, 1, 2);
    }
    g1->setColumnStretch(1, 1);
    groups->addWidget(group1, 1);
}

void TMainform::BuildRunOptions(QWidget* central, QHBoxLayout* groups) {
    Group2 = Make<QGroupBox>(central, "Group2");
    auto* g2 = new QVBoxLayout(Group2);
    g2->setContentsMargins(5, 2, 5, 3);
    closetc = Make<QCheckBox>(Group2, "closetc");
    closetc->setChecked(true);
    Proghlabel = Make<QLabel>(Group2, "Proghlabel");
    plvbox = Make<QComboBox>(Group2, "plvbox");
    for (const char* key : kPriorityKeys) {
        plvbox->addItem(key); // the caption comes with the language
    }
    plvbox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    plvbox->setMinimumContentsLength(8);
    g2->addWidget(closetc);
    g2->addWidget(Proghlabel);
    g2->addWidget(plvbox);
    g2->addStretch(1);
    groups->addWidget(Group2, 1);
}

void TMainform::ConnectHandlers() {
    // User actions only: showing a task's values never writes them back.
    connect(actbtn, &QPushButton::clicked, this, &TMainform::actbtnClick);
    connect(brkbtn, &QPushButton::clicked, this, &TMainform::brkbtnClick);
    connect(Timer1, &QTimer::timeout, this, &TMainform::Timer1Timer);
    connect(tasklist, &QListWidget::itemSelectionChanged, this, &TMainform::tasklistClick);
    connect(tasklist, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QListWidgetItem* item = tasklist->currentItem();
        for (QAction* action : {deltaskm, previewm, openfolderm}) {
            action->setEnabled(item != nullptr);
        }
        showwarnm->setEnabled(item && !item->data(kWarningsRole).toStringList().isEmpty());
        pmenu1->popup(tasklist->viewport()->mapToGlobal(pos));
    });
    connect(lbox, &QComboBox::activated, this, &TMainform::lboxChange);
    connect(FPSbox, &QComboBox::activated, this, &TMainform::FPSboxChange);
    connect(ensupbox, &QCheckBox::clicked, this, &TMainform::ensupboxClick);
    connect(EnFirstBlack, &QCheckBox::clicked, this, &TMainform::EnFirstBlackClick);
    connect(Cmdedit, &QLineEdit::textEdited, this, &TMainform::CmdeditChange);
    connect(stylebox, &QComboBox::activated, this, &TMainform::styleboxChange);
    connect(EnEndBlack, &QCheckBox::clicked, this, &TMainform::EnEndBlackClick);
    connect(deltaskm, &QAction::triggered, this, &TMainform::deltaskmClick);
    connect(Clm, &QAction::triggered, this, &TMainform::ClmClick);
    connect(previewm, &QAction::triggered, this, &TMainform::previewmClick);
    connect(showwarnm, &QAction::triggered, this, &TMainform::showwarnmClick);
    connect(openfolderm, &QAction::triggered, this, &TMainform::openfoldermClick);
    connect(tasklist, &QListWidget::itemDoubleClicked, this, &TMainform::previewmClick);
    connect(aboutm, &QAction::triggered, this, &TMainform::aboutmClick);
    connect(plvbox, &QComboBox::activated, this, &TMainform::plvboxChange);
    connect(closetc, &QCheckBox::clicked, this, &TMainform::closetcClick);
    connect(browsebtn, &QPushButton::clicked, this, &TMainform::browsebtnClick);
    connect(Pathedit, &QLineEdit::textChanged, this, &TMainform::PatheditChange);
    connect(showm, &QAction::triggered, this, &TMainform::showmClick);
    connect(quitm, &QAction::triggered, this, &TMainform::quitmClick);
}

void TMainform::PlaceWindow() {
    // The least size shows every caption whole, and no less than the window's designed
    // client area of 323 by 475; the user may make it larger.
    centralWidget()->setMinimumSize(323, 475);
    const QSize least = minimumSizeHint();
    setMinimumSize(least);
    resize(least);
    const QScreen* primary = screen();
    if (!primary) {
        return;
    }
    if (settings_.Window) {
        const WindowPlace& p = *settings_.Window;
        const QSize wanted = QSize(p.width, p.height).expandedTo(least);
        // Back where it was only when its top edge is on a screen that is still there;
        // otherwise at the same size, centred.
        const QScreen* target = nullptr;
        for (const QScreen* s : QGuiApplication::screens()) {
            const QRect strip =
                QRect(p.left, p.top, wanted.width(), 30).intersected(s->availableGeometry());
            if (strip.width() >= 60 && strip.height() >= 20) {
                target = s;
                break;
            }
        }
        const QRect area = (target ? target : primary)->availableGeometry();
        resize(wanted.boundedTo(area.size()).expandedTo(least));
        if (target) {
            move(p.left, p.top);
            return;
        }
    }
    const QRect area = primary->availableGeometry();
    move(area.center() - rect().center());
}

void TMainform::NotePlace() {
    if (isVisible() &&
        !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        place_ = WindowPlace{x(), y(), width(), height()};
    }
}

void TMainform::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    NotePlace();
}

void TMainform::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    NotePlace();
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

std::string TMainform::Msg(const std::string& key) const {
    return MessageText(texts_, key);
}

std::string TMainform::Format(const std::string& key, std::vector<FormatArg> args) const {
    return FormatMessageText(texts_, key, args);
}

void TMainform::SetCaption(const std::string& key, const std::string& text) {
    for (int i = 0; i < static_cast<int>(std::size(kPriorityKeys)); ++i) {
        if (key == kPriorityKeys[i]) {
            plvbox->setItemText(i, Q(text));
            return;
        }
    }
    const auto it =
        std::find_if(std::begin(kControlTable), std::end(kControlTable),
                     [&](const ControlEntry& e) { return e.captionKey && key == e.captionKey; });
    if (it == std::end(kControlTable)) {
        return;
    }
    const QString caption = Q(text);
    QObject* target = findChild<QObject*>(it->name);
    if (auto* label = qobject_cast<QLabel*>(target)) {
        label->setText(caption);
    } else if (auto* button = qobject_cast<QAbstractButton*>(target)) {
        button->setText(caption);
    } else if (auto* group = qobject_cast<QGroupBox*>(target)) {
        group->setTitle(caption);
    } else if (auto* action = qobject_cast<QAction*>(target)) {
        action->setText(caption);
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
    // The menu's own title follows at once, and the mark stays on the language shown (a
    // file that broke since the start is not applied).
    languageMenu->setTitle(Q(Msg("C011")));
    const auto items = languageGroup->actions();
    for (int i = 0; i < items.size(); ++i) {
        items[i]->setChecked(menu_.applied == static_cast<std::size_t>(i));
    }
}

void TMainform::ListStyles() {
    stylebox->clear();
    stylebox->addItem(QString()); // no style
    for (const std::string& path : ListFiles(JoinPath(programFolder_, "srtstyle"), "*.style")) {
        stylebox->addItem(Q(FileNamePart(path)));
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

TaskControls TMainform::CurrentControls() const {
    TaskControls c;
    c.formatIndex = lbox->currentIndex();
    c.rateIndex = FPSbox->currentIndex();
    c.makeSup = ensupbox->isChecked();
    c.firstBlack = EnFirstBlack->isChecked();
    c.commandTemplate = S(Cmdedit->text());
    c.styleFile = S(stylebox->currentText());
    c.endBlack = EnEndBlack->isChecked();
    return c;
}

void TMainform::AddRow(const TaskEntry& entry) {
    auto* item = new QListWidgetItem(Q(entry.path), tasklist);
    item->setData(kIdRole, QVariant::fromValue<qulonglong>(entry.id));
    item->setData(kTaskLineRole, Q(entry.taskLine));
    item->setToolTip(Q(entry.path));
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

void TMainform::ShowRunMessage(const std::string& message) {
    // A refused priority would otherwise ask once per task.
    if (message == lastRunMessage_) {
        return;
    }
    lastRunMessage_ = message;
    dialogs_->ShowError(message, Msg("C016"));
}

void TMainform::MarkRow(QListWidgetItem* item, RowMark mark, const std::string& detail) {
    switch (mark) {
    case RowMark::Failed:
        item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setForeground(QColor(170, 0, 0));
        item->setToolTip(Q(detail));
        break;
    case RowMark::Warned:
        // Converted, so no longer queued: the row stays only so the warnings can be read.
        item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
        item->setForeground(QColor(150, 95, 0));
        item->setToolTip(item->text() + "\n" + Q(detail));
        break;
    case RowMark::Queued:
        item->setIcon(QIcon());
        item->setForeground(palette().color(QPalette::Text));
        item->setToolTip(item->text());
        break;
    }
}

namespace {

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

void TMainform::AddDroppedFiles(const QStringList& paths) {
    Duplicates duplicates;
    for (const QString& file : paths) {
        const std::string path = S(file);
        if (!path.empty() && QFileInfo(file).isDir()) {
            AddFolder(path, duplicates);
        } else if (!IsSubtitleFile(path)) {
            // The message says what was refused; the path says which file.
            dialogs_->ShowError(Msg("C001") + "\n" + path, Msg("C002"));
        } else {
            AddTask(path, duplicates);
        }
    }
    if (!duplicates.empty()) {
        dialogs_->ShowError(NamedList(Msg("C027"), duplicates), Msg("C002"));
    }
}

void TMainform::AddFolder(const std::string& folder, Duplicates& duplicates) {
    // The folder's own files only, by name; sub-folders are not searched.
    std::vector<std::string> skipped;
    for (const std::string& path : ListFiles(folder, "*")) {
        if (!QFileInfo(Q(path)).isDir() && IsSubtitleFile(path)) {
            AddTask(path, duplicates);
        } else {
            skipped.push_back(FileNamePart(path));
        }
    }
    if (!skipped.empty()) {
        dialogs_->ShowError(NamedList(Msg("C020") + "\n" + folder, skipped), Msg("C002"));
    }
}

void TMainform::AddTask(const std::string& path, Duplicates& duplicates) {
    // A second task for a file would convert it into the same folder again; the one
    // queued keeps its row, and its settings can be changed there.
    if (queue_.HasPath(path)) {
        duplicates.push_back(path);
        return;
    }
    try {
        const auto index = queue_.AppendNew(path, CurrentControls());
        if (auto entry = queue_.Get(index)) {
            AddRow(*entry);
        }
    } catch (const std::exception& e) {
        dialogs_->ShowError(e.what(), Msg("C016"));
    }
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
        paths << (url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString());
    }
    event->acceptProposedAction();
    AddDroppedFiles(paths);
}

std::optional<std::size_t> TMainform::SelectedTask() const {
    const QListWidgetItem* item = tasklist->currentItem();
    if (tasklist->count() == 0 || !item || !item->isSelected()) {
        return std::nullopt;
    }
    return queue_.IndexOf(item->data(kIdRole).toULongLong());
}

void TMainform::SetSelectedField(int field, const std::string& value) {
    if (const auto index = SelectedTask()) {
        try {
            queue_.SetField(*index, field, value);
            if (const auto entry = queue_.Get(*index)) {
                tasklist->currentItem()->setData(kTaskLineRole, Q(entry->taskLine));
            }
        } catch (const std::exception& e) {
            dialogs_->ShowError(e.what(), Msg("C016"));
        }
    }
}

void TMainform::tasklistClick() {
    const auto index = SelectedTask();
    if (!index) {
        return;
    }
    const auto entry = queue_.Get(*index);
    if (!entry) {
        return;
    }
    auto field = [&](int k) { return TaskLineField(entry->taskLine, k); };
    std::int64_t number = 0;
    if (TryParseInt(field(FormatIndex), number)) {
        lbox->setCurrentIndex(static_cast<int>(number));
    }
    if (TryParseInt(field(RateIndex), number)) {
        FPSbox->setCurrentIndex(static_cast<int>(number));
    }
    ensupbox->setChecked(field(MakeSup) == "1");
    EnFirstBlack->setChecked(field(FirstBlack) == "1");
    Cmdedit->setText(Q(field(CommandTemplate)));
    Cmdedit->setCursorPosition(0);
    const int style = stylebox->findText(Q(field(StyleFile)), Qt::MatchExactly);
    stylebox->setCurrentIndex(style); // -1 (no selection) when the style is not listed
    EnEndBlack->setChecked(field(EndBlack) == "1");
}

void TMainform::lboxChange() {
    SetSelectedField(FormatIndex, std::to_string(lbox->currentIndex()));
}

void TMainform::FPSboxChange() {
    SetSelectedField(RateIndex, std::to_string(FPSbox->currentIndex()));
}

void TMainform::ensupboxClick() {
    SetSelectedField(MakeSup, ensupbox->isChecked() ? "1" : "0");
}

void TMainform::EnFirstBlackClick() {
    SetSelectedField(FirstBlack, EnFirstBlack->isChecked() ? "1" : "0");
}

void TMainform::CmdeditChange() {
    SetSelectedField(CommandTemplate, S(Cmdedit->text()));
}

void TMainform::styleboxChange() {
    SetSelectedField(StyleFile, S(stylebox->currentText()));
}

void TMainform::EnEndBlackClick() {
    SetSelectedField(EndBlack, EnEndBlack->isChecked() ? "1" : "0");
}

void TMainform::deltaskmClick() {
    QListWidgetItem* item = tasklist->currentItem();
    if (!item || !item->isSelected()) {
        return;
    }
    if (const auto index = queue_.IndexOf(item->data(kIdRole).toULongLong())) {
        queue_.Remove(*index);
    }
    delete item;
}

void TMainform::ClmClick() {
    queue_.Clear();
    tasklist->clear();
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

std::optional<std::pair<std::string, std::string>>
TMainform::RowTask(const QListWidgetItem* item) const {
    if (!item) {
        return std::nullopt;
    }
    if (const auto index = queue_.IndexOf(item->data(kIdRole).toULongLong())) {
        if (const auto entry = queue_.Get(*index)) {
            return std::pair{entry->path, entry->taskLine};
        }
    }
    const QString taskLine = item->data(kTaskLineRole).toString();
    if (taskLine.isEmpty()) {
        return std::nullopt;
    }
    return std::pair{S(item->text()), S(taskLine)};
}

void TMainform::previewmClick() {
    const QListWidgetItem* item = tasklist->currentItem();
    const auto task = item && item->isSelected() ? RowTask(item) : std::nullopt;
    if (!task) {
        return;
    }
    const auto& [path, taskLine] = *task;
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
    const QListWidgetItem* item = tasklist->currentItem();
    const QStringList warnings = item ? item->data(kWarningsRole).toStringList() : QStringList();
    if (warnings.isEmpty()) {
        return;
    }
    delete warningsForm;
    const TextFormTexts texts{Q(Format("C028", {FileNamePart(S(item->text()))})),
                              Q(CaptionText(texts_, "L028")), Q(CaptionText(texts_, "L031"))};
    warningsForm = new TTextForm(warnings.join('\n'), texts, false, this);
    warningsForm->setObjectName("warningsForm");
    warningsForm->setAttribute(Qt::WA_DeleteOnClose);
    warningsForm->resize(640, 320);
    warningsForm->show();
}

void TMainform::openfoldermClick() {
    const QListWidgetItem* item = tasklist->currentItem();
    if (!item) {
        return;
    }
    // A converted task's own folder; for a queued one, the folder an earlier conversion
    // left, else the output folder it will go into.
    std::string folder = S(item->data(kFolderRole).toString());
    if (folder.empty()) {
        folder = settings_.OutputFolder;
        try {
            const std::string own = JoinPath(
                settings_.OutputFolder,
                ChooseTaskFolderName(S(item->text()), programFolder_, settings_.OutputFolder));
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
    event->accept();
    QApplication::quit();
}

} // namespace pelldrin

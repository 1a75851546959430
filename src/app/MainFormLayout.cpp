// The window's layout: every named control with the language key of its caption, how the
// controls are built and placed, and where the window opens.
#include "app/MainForm.h"

#include "app/QtText.h"
#include "app/TaskRowView.h"
#include "base/VideoFormats.h"
#include "script/TaskRecord.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>
#include <type_traits>

namespace pelldrin {

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
    {"openfolderm", "L030"}, {"fileMenu", "L032"},   {"addfilesm", "L033"},
    {"addfolderm", "L034"},  {"pairwarn", nullptr},
};

// The caption key of stylebox's first item, the one for no style.
constexpr const char* kNoStyleKey = "L035";

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
        if constexpr (std::is_base_of_v<QGroupBox, T> || std::is_base_of_v<QMenu, T>) {
            control->setTitle(caption);
        } else if constexpr (std::is_base_of_v<TaskListWidget, T>) {
            control->setPlaceholderText(caption);
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
    fileMenu = Make<QMenu>(mainmenu, "fileMenu");
    mainmenu->addMenu(fileMenu);
    addfilesm = MakeAction(fileMenu, "addfilesm");
    addfilesm->setShortcut(QKeySequence::Open);
    addfolderm = MakeAction(fileMenu, "addfolderm");
    Timer1 = Make<QTimer>(this, "Timer1");
    Timer1->setInterval(1000);
    iconpop = Make<QMenu>(this, "iconpop");
    showm = MakeAction(iconpop, "showm");
    aboutm = MakeAction(iconpop, "aboutm");
    iconpop->addSeparator();
    quitm = MakeAction(iconpop, "quitm");
    fileMenu->addSeparator();
    fileMenu->addAction(quitm);
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
    // Read-only looks read-only: the window's colour, not an edit field's, in every state.
    QPalette readOnly = Pathedit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        readOnly.setColor(group, QPalette::Base, readOnly.color(group, QPalette::Window));
    }
    Pathedit->setPalette(readOnly);
    Pathedit->setFocusPolicy(Qt::ClickFocus); // no edit cursor waiting in it at start
    browsebtn = Make<QPushButton>(TntPanel1, "browsebtn");
    pathRow->addWidget(Pathlabel);
    pathRow->addWidget(Pathedit, 1);
    pathRow->addWidget(browsebtn);
    top->addWidget(TntPanel1);
}

void TMainform::BuildTaskList(QWidget* central, QVBoxLayout* top) {
    tasklist = Make<TaskListWidget>(central, "tasklist");
    tasklist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tasklist->setContextMenuPolicy(Qt::CustomContextMenu);
    tasklist->setTextElideMode(Qt::ElideLeft);
    tasklist->setMinimumHeight(80);
    tasklist->setItemDelegate(new TaskRowDelegate(tasklist));
    pmenu1 = Make<QMenu>(tasklist, "pmenu1");
    previewm = MakeAction(pmenu1, "previewm");
    showwarnm = MakeAction(pmenu1, "showwarnm");
    openfolderm = MakeAction(pmenu1, "openfolderm");
    pmenu1->addSeparator();
    deltaskm = MakeAction(pmenu1, "deltaskm");
    // The Delete key removes the selected rows while the list has the focus.
    deltaskm->setShortcut(QKeySequence::Delete);
    deltaskm->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    tasklist->addAction(deltaskm);
    Clm = MakeAction(pmenu1, "Clm");
    top->addWidget(tasklist, 1);
}

void TMainform::BuildProgressFrames(QWidget* central, QVBoxLayout* top) {
    // Each bar in a frame of its own, its label before it.
    const auto frame = [&](QGroupBox*& box, const char* boxName, QLabel*& label,
                           const char* labelName, QProgressBar*& bar, const char* barName) {
        box = Make<QGroupBox>(central, boxName);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(5, 2, 5, 2);
        label = Make<QLabel>(box, labelName);
        bar = Make<QProgressBar>(box, barName);
        bar->setValue(0);
        row->addWidget(label);
        row->addWidget(bar, 1);
        top->addWidget(box);
    };
    frame(TntGroupBox1, "TntGroupBox1", TntLabel1, "TntLabel1", cprogbar, "cprogbar");
    frame(TntGroupBox2, "TntGroupBox2", Proglabel, "Proglabel", progbar, "progbar");
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
    pairwarn = Make<QLabel>(group1, "pairwarn");
    pairwarn->setWordWrap(true);
    pairwarn->setStyleSheet("color: #aa0000");
    pairwarn->hide();
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
    g1->addWidget(pairwarn, row++, 0, 1, 2);
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

void TMainform::SetCaption(const std::string& key, const std::string& text) {
    for (int i = 0; i < static_cast<int>(std::size(kPriorityKeys)); ++i) {
        if (key == kPriorityKeys[i]) {
            plvbox->setItemText(i, Q(text));
            return;
        }
    }
    if (key == kNoStyleKey) {
        stylebox->setItemText(0, Q(text));
        return;
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
    } else if (auto* menu = qobject_cast<QMenu*>(target)) {
        menu->setTitle(caption);
    } else if (auto* list = qobject_cast<TaskListWidget*>(target)) {
        list->setPlaceholderText(caption);
    }
}

} // namespace pelldrin

// The window under the offscreen platform: drops, per-task controls, runs with
// the stand-in converter, stop, tray toggle, folder choice, languages, the preview with
// the real renderer, the About box.
#include "app/MainForm.h"
#include "app/AboutForm.h"
#include "app/PreviewForm.h"
#include "app/TextForm.h"
#include "base/FileSystem.h"
#include "batch/QueueFile.h"
#include "settings/ConfigStore.h"
#include "support/TempDir.h"
#include "unit/matroska/MatroskaBuilder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <deque>

using namespace pelldrin;

namespace {

// Answers the window's questions as a test scripts them, and records every box.
class FakeDialogs : public IDialogs {
  public:
    void ShowError(const std::string& text, const std::string& caption) override {
        errors.push_back(caption + ": " + text);
    }
    void ShowInfo(const std::string& text, const std::string& caption) override {
        infos.push_back(caption + ": " + text);
    }
    bool AskYesNo(const std::string& text, const std::string& caption) override {
        questions.push_back(caption + ": " + text);
        if (holdQuestions) {
            // Open like a modal box: events go on until the window closes the question.
            QEventLoop loop;
            held = &loop;
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            loop.exec();
            held = nullptr;
            return false;
        }
        const bool answer = answers.empty() ? false : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    }
    void CloseQuestions() override {
        ++closeCalls;
        if (held) {
            ++questionsClosed;
            held->quit();
        }
    }
    std::string ChooseFolder(const std::string& initialFolder, const std::string&) override {
        chooserOpenedAt.push_back(initialFolder);
        return folderAnswer;
    }
    bool OpenFolder(const std::string& folder) override {
        opened.push_back(folder);
        return true;
    }
    std::vector<std::string> ChooseFiles(const std::string& initialFolder, const std::string&,
                                         const std::string& filter) override {
        chooserOpenedAt.push_back(initialFolder);
        filters.push_back(filter);
        return filesAnswer;
    }
    // The tracks as the dialog opens, unless the test scripts an answer.
    std::vector<std::int64_t> ChooseTracks(const TrackChoice& choice) override {
        trackChoices.push_back(choice);
        return trackAnswer ? *trackAnswer : CheckedAtOpening(choice);
    }
    std::vector<std::string> errors, infos, questions, chooserOpenedAt, opened, filters;
    std::vector<std::string> filesAnswer;
    std::deque<bool> answers;
    std::vector<TrackChoice> trackChoices;
    std::optional<std::vector<std::int64_t>> trackAnswer;
    std::string folderAnswer;
    bool holdQuestions = false;
    QEventLoop* held = nullptr;
    int closeCalls = 0, questionsClosed = 0;
};

// Selects exactly these rows, as clicks with Ctrl held would.
void Select(TMainform& form, std::initializer_list<int> rows) {
    form.tasklist->clearSelection();
    for (const int row : rows) {
        form.tasklist->setCurrentRow(row, QItemSelectionModel::Select);
    }
}

// The box of the picture's visible pixels, found independently of the renderer.
std::optional<QRect> VisibleBox(const QImage& picture) {
    QRect box;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) != 0) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box.isNull() ? std::nullopt : std::optional<QRect>(box);
}

const char* kEnglish = R"(<?xml version="1.0" encoding="UTF-8"?>
<Language><Lang Name="English" L001="Output:" L002="Browse" L003="Total" L004="Settings"
 L005="Format" L006="Rate" L007="SUP" L008="First" L009="Template" L010="Style" L011="Options"
 L012="Tray" L013="Priority" L014="Start" L015="Stop" L016="Delete" L017="Clear" L018="Show"
 L019="Quit" L020="End" C001="bad file" C002="Drop" C003="queue empty" C004="Start"
 C005="done in %d s" C006="Finished" C007="quit?" C008="Confirm" C009="stop?" C010="x"
 C011="Language" C012="Choose" C013="%d failed" C014="missing: %s" C015="no converter"
 C016="Pelldrin"/></Language>
)";

class MainFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir;
    std::unique_ptr<FakeDialogs> dialogs;

    std::string Program() const { return dir->File("prog"); }

    void WriteConfig(const std::string& converter = "/standin_converter",
                     const std::string& moreConfig = "DefLang=\"English\"") {
        test::WriteFile(dir->File("prog/config.xml"),
                        "<?xml version=\"1.0\"?>\n<Pelldrin>\n  <Path Output=\"" +
                            dir->File("out") + "\" Avs2bdnxml=\"" + converter +
                            "\" VSFilter=\"/plugin\" />\n  <Config " + moreConfig +
                            " ProcessPriority=\"0\" CloseTrayicon=\"1\" />\n</Pelldrin>\n");
    }

    QString Subtitle(const std::string& name) {
        const std::string path = dir->File(name);
        test::WriteFile(path, "1\n00:00:01,000 --> 00:00:02,000\nHi\n");
        return QString::fromStdString(path);
    }

    std::unique_ptr<TMainform> MakeForm() {
        return std::make_unique<TMainform>(Program(), dialogs.get());
    }

  private slots:
    void init() {
        dir = std::make_unique<test::TempDir>();
        dialogs = std::make_unique<FakeDialogs>();
        CreateFolders(dir->File("prog/lang"));
        CreateFolders(dir->File("prog/srtstyle"));
        test::WriteFile(dir->File("prog/lang/English.xml"), kEnglish);
        test::WriteFile(dir->File("prog/srtstyle/big.style"), "x");
        test::WriteFile(dir->File("prog/srtstyle/small.style"), "x");
        std::filesystem::create_symlink(STANDIN_CONVERTER, dir->File("prog/standin_converter"));
        WriteConfig();
    }
    void cleanup() {
        dialogs.reset();
        dir.reset();
    }

    void startsWithTheSavedSettingsAndLanguage() {
        auto form = MakeForm();
        QCOMPARE(form->windowTitle(), QString("Pelldrin_") + kProgramVersion);
        QCOMPARE(form->Pathedit->text().toStdString(), dir->File("out") + "/");
        QCOMPARE(form->actbtn->text(), QString("Start"));
        QCOMPARE(form->EnEndBlack->text(), QString("End"));
        QVERIFY(form->closetc->isChecked());
        QVERIFY(!form->brkbtn->isEnabled());
        QVERIFY(form->languageMenu != nullptr);
        QCOMPARE(form->languageMenu->title(), QString("Language"));
        QVERIFY(form->languageMenu->actions()[0]->isChecked());
        // Keys the file lacks: the texts these controls always had.
        QCOMPARE(form->TntLabel1->text(), QString("当前进度"));
        QCOMPARE(form->plvbox->itemText(3), QString("Realtime(Warning)"));
        QCOMPARE(form->stylebox->count(), 3); // no style, big, small
        QCOMPARE(form->stylebox->itemText(1), QString("big.style"));
        QVERIFY(form->width() >= 323);
        QVERIFY(dialogs->errors.empty());
    }

    void aMissingConfigurationIsNamedOnceAndDefaultsApply() {
        std::filesystem::remove(dir->File("prog/config.xml"));
        auto form = MakeForm();
        QTRY_COMPARE(dialogs->errors.size(), size_t(1));
        QVERIFY(dialogs->errors[0].find("Path/Output") != std::string::npos);
        QCOMPARE(form->Pathedit->text().toStdString(), Program() + "/output/");
        QVERIFY(form->closetc->isChecked());
        QCOMPARE(form->plvbox->currentIndex(), 0);
        // Without a saved language the built-in English captions show.
        QCOMPARE(form->actbtn->text(), QString("Start"));
    }

    void dropsAcceptByExtensionInOrder() {
        auto form = MakeForm();
        form->AddDroppedFiles({"/subs/A.ASS", "/subs/b.Srt", "/subs/c.txt", "/subs/d.assx"});
        QCOMPARE(form->tasklist->count(), 3);
        QCOMPARE(form->tasklist->item(0)->text(), QString("/subs/A.ASS"));
        QCOMPARE(form->tasklist->item(1)->text(), QString("/subs/b.Srt"));
        QCOMPARE(form->Queue().Count(), size_t(3));
        QCOMPARE(dialogs->errors.size(), size_t(1));
        QCOMPARE(dialogs->errors[0], std::string("Drop: bad file\n/subs/c.txt"));
        // A long path is never cut short.
        const QString longPath = "/" + QString(600, 'x') + ".srt";
        form->AddDroppedFiles({longPath});
        QCOMPARE(form->Queue().Get(3)->path, longPath.toStdString());
    }

    void aFileDroppedAgainKeepsItsOneRow() {
        auto form = MakeForm();
        form->AddDroppedFiles({"/s/a.ass", "/s/b.srt"});
        form->lbox->setCurrentIndex(1); // other settings: still the same files
        form->AddDroppedFiles({"/s/a.ass", "/s/c.ass", "/s/b.srt"});
        QCOMPARE(form->tasklist->count(), 3);
        QCOMPARE(form->Queue().Count(), size_t(3));
        QCOMPARE(form->Queue().GetField(0, FormatIndex), std::string("0"));
        QCOMPARE(form->Queue().Get(2)->path, std::string("/s/c.ass"));
        // One notice names both, with the information icon and a title of its own.
        QVERIFY(dialogs->errors.empty());
        QCOMPARE(dialogs->infos.size(), size_t(1));
        QVERIFY(dialogs->infos[0].rfind("Already in the list: ", 0) == 0);
        QVERIFY(dialogs->infos[0].find("\n/s/a.ass\n/s/b.srt") != std::string::npos);
        // Once removed, a file can be queued again.
        Select(*form, {0});
        form->deltaskmClick();
        form->AddDroppedFiles({"/s/a.ass"});
        QCOMPARE(form->tasklist->count(), 3);
        QCOMPARE(dialogs->infos.size(), size_t(1));

        // Whatever a drop holds, one message: refusals (with their reasons) and notices
        // together, as an error since something was refused.
        form->AddDroppedFiles(
            {"/s/x.txt", "/s/b.srt", "file://far/s/y.ass", "http://h/z.srt", "/s/d.ssa"});
        QCOMPARE(form->tasklist->count(), 4);
        QCOMPARE(dialogs->errors.size(), size_t(1));
        QCOMPARE(dialogs->infos.size(), size_t(1));
        const std::string& told = dialogs->errors[0];
        for (const char* part :
             {"Drop: bad file\n/s/x.txt", "refused:\nfile://far/s/y.ass\nhttp://",
              "already in the list", "/s/b.srt"}) {
            QVERIFY2(told.find(part) != std::string::npos, told.c_str());
        }
    }

    // A season of releases asks once: the tracks checked in the first are found in the others
    // by language, codec and name, else by number; a release with one text track needs no
    // question, one without any is refused by name.
    void aDropOfReleasesAsksOnceForTheirTracks() {
        using test::BuiltTrack;
        const auto text = [](const char* codec, const char* language, const char* name,
                             bool isDefault) {
            BuiltTrack t;
            t.codec = codec;
            t.language = language;
            t.name = name;
            t.isDefault = isDefault;
            return t;
        };
        const BuiltTrack chi = text("S_TEXT/ASS", "chi", "简体中文", false);
        const BuiltTrack eng = text("S_TEXT/ASS", "eng", "English", true);
        const BuiltTrack jpn = text("S_TEXT/UTF8", "jpn", "", false);
        const BuiltTrack pgs = text("S_HDMV/PGS", "chi", "", false);
        const auto release = [&](const std::string& name, const std::vector<BuiltTrack>& tracks) {
            test::WriteFile(dir->File(name), test::BuildMatroska(tracks, {{0, 0, 1000, "x"}}));
            return QString::fromStdString(dir->File(name));
        };
        const QStringList drop{release("E01.mks", {chi, eng, pgs}),
                               release("E02.mkv", {eng, chi}),
                               release("E03.mks", {pgs, jpn, jpn}),
                               release("E04.mks", {eng}),
                               release("Signs.mks", {pgs}),
                               Subtitle("E05.ass"),
                               QString::fromStdString(dir->File("Broken.mkv"))};
        test::WriteFile(dir->File("Broken.mkv"), "not Matroska");
        dialogs->trackAnswer = std::vector<std::int64_t>{0, 1};
        auto form = MakeForm();
        form->AddDroppedFiles(drop);

        QCOMPARE(dialogs->trackChoices.size(), size_t(1));
        const TrackChoice& choice = dialogs->trackChoices[0];
        QVERIFY(choice.title.find("E01.mks") != std::string::npos);
        QCOMPARE(choice.rows.size(), size_t(3));
        QVERIFY(!choice.rows[0].checked && choice.rows[1].checked); // the default track
        QVERIFY(!choice.rows[2].convertible && !choice.rows[2].checked);
        // English alone is found in every file (in E03 by its number); Chinese is not in E03.
        QCOMPARE(choice.unmatched({1}), std::string());
        const std::string both = choice.unmatched({0, 1});
        QVERIFY2(both.find("E03.mks") != std::string::npos, both.c_str());
        QVERIFY(both.find("E02.mkv") == std::string::npos);

        std::vector<std::string> rows;
        for (int i = 0; i < form->tasklist->count(); ++i) {
            rows.push_back(form->tasklist->item(i)->text().toStdString());
        }
        const std::string mark = " \u2014 track ";
        const std::vector<std::string> expected{dir->File("E01.mks") + mark + "0, chi, 简体中文",
                                                dir->File("E01.mks") + mark + "1, eng, English",
                                                dir->File("E02.mkv") + mark + "1, chi, 简体中文",
                                                dir->File("E02.mkv") + mark + "0, eng, English",
                                                dir->File("E03.mks") + mark + "1, jpn",
                                                dir->File("E04.mks") + mark + "0, eng, English",
                                                dir->File("E05.ass")};
        QCOMPARE(rows, expected);
        // One message: the release without a text track, the one that is no Matroska file.
        QCOMPARE(dialogs->errors.size(), size_t(1));
        for (const std::string& part : {dir->File("Signs.mks"), dir->File("Broken.mkv")}) {
            QVERIFY2(dialogs->errors[0].find(part) != std::string::npos,
                     dialogs->errors[0].c_str());
        }

        // A release's track is listed once; cancelling the question adds nothing.
        dialogs->trackAnswer = std::vector<std::int64_t>{1};
        form->AddDroppedFiles({drop[0]});
        QCOMPARE(form->tasklist->count(), 7);
        QVERIFY(dialogs->infos.back().find(expected[1]) != std::string::npos);
        // A release that no checked track matches is named in the drop's message.
        dialogs->trackAnswer = std::vector<std::int64_t>{0};
        form->AddDroppedFiles({drop[0], drop[2]});
        QCOMPARE(form->tasklist->count(), 7);
        QVERIFY2(dialogs->errors.back().find("not added:\n" + dir->File("E03.mks")) !=
                     std::string::npos,
                 dialogs->errors.back().c_str());
        dialogs->trackAnswer = std::vector<std::int64_t>{};
        form->ClmClick();
        form->AddDroppedFiles({drop[0], drop[1]});
        QCOMPARE(form->tasklist->count(), 0);

        // Muxed again after its track was queued, a release whose number now names another
        // track fails the task with that reason rather than convert the other track.
        dialogs->trackAnswer = std::vector<std::int64_t>{0};
        form->AddDroppedFiles({drop[1]}); // E02's track 0: English
        test::WriteFile(dir->File("E02.mkv"), test::BuildMatroska({chi, eng}, {{0, 0, 1000, "x"}}));
        const std::size_t notices = dialogs->infos.size();
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs->infos.size() > notices, 30000);
        QCOMPARE(form->Queue().Get(0)->state, TaskState::Failed);
        const std::string reason = form->Queue().Get(0)->failureReason;
        QVERIFY2(reason.find("track 0 is now chi") != std::string::npos, reason.c_str());
    }

    void aRealDropEventQueuesLocalFiles() {
        auto form = MakeForm();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/subs/with space/Ep 1_中文.ass"),
                      QUrl::fromLocalFile("/subs/notes.txt"), QUrl("file://far/subs/ep.ass")});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        QCOMPARE(form->tasklist->count(), 1);
        QCOMPARE(form->Queue().Get(0)->path, std::string("/subs/with space/Ep 1_中文.ass"));
        QCOMPARE(form->Queue().GetField(0, NameTag), std::string("中文"));
        // Another computer's file is refused at the drop, in the same message.
        QCOMPARE(dialogs->errors.size(), size_t(1));
        QVERIFY(dialogs->errors[0].find("file://far/subs/ep.ass") != std::string::npos);
    }

    void controlsChangeOnlyTheSelectedTask() {
        auto form = MakeForm();
        form->AddDroppedFiles({"/s/one.ass"});
        // No selection: the change only affects later drops.
        form->ensupbox->setChecked(false);
        form->ensupboxClick();
        QCOMPARE(form->Queue().GetField(0, MakeSup), std::string("1"));
        form->stylebox->setCurrentIndex(2);
        form->AddDroppedFiles({"/s/two.srt"});
        QCOMPARE(form->Queue().GetField(1, MakeSup), std::string("0"));
        QCOMPARE(form->Queue().GetField(1, StyleFile), std::string("small.style"));

        // Selecting the first task shows its own values, including no style.
        Select(*form, {0});
        QVERIFY(form->ensupbox->isChecked());
        QCOMPARE(form->stylebox->currentText(), QString("(no style)"));
        form->lbox->setCurrentIndex(4);
        form->lboxChange();
        form->EnEndBlack->setChecked(false);
        form->EnEndBlackClick();
        QCOMPARE(form->Queue().GetField(0, FormatIndex), std::string("4"));
        QCOMPARE(form->Queue().GetField(0, EndBlack), std::string("0"));
        QCOMPARE(form->Queue().GetField(1, FormatIndex), std::string("0"));
        QCOMPARE(form->Queue().GetField(1, EndBlack), std::string("1"));

        Select(*form, {1});
        QCOMPARE(form->stylebox->currentText(), QString("small.style"));
        QVERIFY(form->EnEndBlack->isChecked());
        QCOMPARE(form->lbox->currentIndex(), 0);
    }

    void theSettingsFollowTheSelection() {
        // The trial: a row set to 720P/25 and run; afterwards every row shows its own values,
        // a change goes to the selected rows only, and a new file gets the template.
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --warn=1");
        form->AddDroppedFiles({Subtitle("kept.srt")});
        form->Cmdedit->setText("%0:s --behave=exit:4");
        form->AddDroppedFiles({Subtitle("failing.srt")});
        const std::string templateLine = form->TemplateLine();
        Select(*form, {0});
        form->lbox->setCurrentIndex(1);
        form->FPSbox->setCurrentIndex(2);
        QCOMPARE(form->Queue().GetField(0, FormatIndex), std::string("1"));
        QCOMPARE(form->TemplateLine(), templateLine);
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        QCOMPARE(form->tasklist->count(), 2);
        QCOMPARE(form->Queue().Get(0)->state, TaskState::Converted);

        Select(*form, {1});
        QCOMPARE(form->lbox->currentIndex(), 0);
        QCOMPARE(form->FPSbox->currentIndex(), 0);
        QCOMPARE(form->Cmdedit->text(), QString("%0:s --behave=exit:4"));
        form->lbox->setCurrentIndex(4);
        QCOMPARE(form->Queue().GetField(1, FormatIndex), std::string("4"));
        QCOMPARE(form->Queue().GetField(0, FormatIndex), std::string("1"));
        // 576i at 23.976 is no pair a disc uses: said in the settings and on the row.
        QVERIFY(form->pairwarn->isVisibleTo(form.get()));
        QVERIFY(form->pairwarn->text().contains("576i"));
        QVERIFY(form->tasklist->item(1)->data(kTagWarnRole).toBool());
        QVERIFY(form->tasklist->item(1)->toolTip().contains("Blu-ray discs do not use"));
        Select(*form, {0}); // converted rows show their values too
        QCOMPARE(form->lbox->currentIndex(), 1);
        QCOMPARE(form->FPSbox->currentIndex(), 2);
        QVERIFY(form->pairwarn->text().contains("720P at 25"));

        // Without a selection the controls show what the next file gets, untouched by rows.
        form->tasklist->clearSelection();
        QCOMPARE(form->lbox->currentIndex(), 0);
        QCOMPARE(form->Cmdedit->text(), QString("%0:s --behave=exit:4"));
        QVERIFY(!form->pairwarn->isVisibleTo(form.get()));
        form->AddDroppedFiles({"/s/next.ass"});
        QCOMPARE(form->Queue().GetField(2, FormatIndex), std::string("0"));
        QCOMPARE(form->Queue().GetField(2, RateIndex), std::string("0"));

        // Several rows at once: the first one's values shown, a change made to each.
        Select(*form, {1, 2});
        QCOMPARE(form->lbox->currentIndex(), 4);
        form->FPSbox->setCurrentIndex(4); // 50, appended after the four first rates
        QCOMPARE(form->FPSbox->currentText(), QString("50"));
        QCOMPARE(form->Queue().GetField(1, RateIndex), std::string("4"));
        QCOMPARE(form->Queue().GetField(2, RateIndex), std::string("4"));
        QCOMPARE(form->Queue().GetField(0, RateIndex), std::string("2"));
        QCOMPARE(form->Queue().GetField(2, FormatIndex), std::string("0"));
        QCOMPARE(form->TemplateLine(),
                 WithTaskLineField(templateLine, CommandTemplate, "%0:s --behave=exit:4"));
    }

    void eachTaskHasItsOwnColours() {
        auto form = MakeForm();
        form->AddDroppedFiles({Subtitle("uhd.srt"), Subtitle("hd.srt"), Subtitle("small.srt")});
        QCOMPARE(form->colourbox->currentText(), QString("SDR"));
        QVERIFY(!form->whitebox->isEnabled()); // a white is for HDR10 alone
        Select(*form, {0, 2});
        form->colourbox->setCurrentIndex(form->colourbox->findText("HDR10"));
        QVERIFY(form->whitebox->isEnabled());
        QCOMPARE(form->whitebox->value(), 203);
        form->whitebox->setValue(400);
        Select(*form, {2});
        form->lbox->setCurrentIndex(1); // 720P: no HDR10 there
        for (const std::size_t i : {0, 2}) {
            QCOMPARE(form->Queue().GetField(i, Colour), std::string("hdr10"));
            QCOMPARE(form->Queue().GetField(i, White), std::string("400"));
        }
        QCOMPARE(form->Queue().GetField(1, Colour), std::string("sdr"));
        QCOMPARE(form->Queue().GetField(1, White), std::string("203"));
        QCOMPARE(form->TemplateLine(), BuildTaskLine("", TaskControls{}));
        // Said in the settings and on the row, as a pair discs do not use is.
        QVERIFY(form->hdrwarn->isVisibleTo(form.get()));
        QVERIFY(form->hdrwarn->text().contains("a 720P task fails"));
        QCOMPARE(form->tasklist->item(2)->data(kTagRole).toString(), QString("720P  23.976  HDR"));
        QVERIFY(form->tasklist->item(2)->data(kTagWarnRole).toBool());
        QVERIFY(form->tasklist->item(2)->toolTip().contains("1080P only"));
        QCOMPARE(form->tasklist->item(0)->data(kTagRole).toString(), QString("1080P  23.976  HDR"));
        QVERIFY(!form->tasklist->item(0)->data(kTagWarnRole).toBool());
        Select(*form, {1});
        QCOMPARE(form->colourbox->currentText(), QString("SDR"));
        QVERIFY(!form->whitebox->isEnabled());
        QVERIFY(!form->hdrwarn->isVisibleTo(form.get()));
        QCOMPARE(form->tasklist->item(1)->data(kTagRole).toString(), QString("1080P  23.976"));

        // The preview draws as authored and says what the task makes.
        Select(*form, {0});
        form->previewmClick();
        QVERIFY(form->previewForm->colourlabel->isVisibleTo(form->previewForm));
        QVERIFY(form->previewForm->colourlabel->text().contains("white of 400 cd/m²"));
        Select(*form, {1});
        form->previewmClick();
        QVERIFY(!form->previewForm->colourlabel->isVisibleTo(form->previewForm));
        delete form->previewForm;

        // The 1080P ones convert; the 720P one fails with its reason, kept in the list.
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        QCOMPARE(form->tasklist->count(), 1);
        QCOMPARE(form->Queue().Get(0)->path, dir->File("small.srt"));
        QCOMPARE(form->Queue().Get(0)->state, TaskState::Failed);
        QVERIFY(form->Queue().Get(0)->failureReason.find("made for 1080P only") !=
                std::string::npos);
    }

    void theQueueIsKeptAcrossARestart() {
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --warn=1");
        form->AddDroppedFiles({Subtitle("warned.srt")});
        form->Cmdedit->setText("%0:s --behave=exit:4");
        form->AddDroppedFiles({Subtitle("failed.srt")});
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        form->Cmdedit->setText("%0:s --behave=hang");
        form->AddDroppedFiles({Subtitle("stopped.srt"), Subtitle("waiting.srt")});
        Select(*form, {3});
        form->lbox->setCurrentIndex(1);
        form->tasklist->clearSelection();
        form->actbtnClick();
        QTest::qWait(300);
        dialogs->answers = {true};
        form->quitmClick(); // quit during the run, Yes
        const std::vector<TaskEntry> before = form->Queue().Snapshot();
        form.reset();

        form = MakeForm();
        const std::vector<TaskEntry> after = form->Queue().Snapshot();
        QCOMPARE(after.size(), size_t(4));
        QCOMPARE(form->tasklist->count(), 4);
        for (std::size_t i = 0; i < after.size(); ++i) {
            QCOMPARE(after[i].path, before[i].path);
            QCOMPARE(after[i].taskLine, before[i].taskLine);
            QCOMPARE(after[i].warnings, before[i].warnings);
            QCOMPARE(after[i].failureReason, before[i].failureReason);
        }
        QCOMPARE(after[0].state, TaskState::Converted);
        QCOMPARE(after[1].state, TaskState::Failed);
        QCOMPARE(after[2].state, TaskState::Stopped);
        QCOMPARE(after[3].state, TaskState::Queued);
        QCOMPARE(form->Queue().GetField(3, FormatIndex), std::string("1"));
        QVERIFY(form->tasklist->item(1)->toolTip().contains("exit status 4"));
        QVERIFY(dialogs->errors.empty());

        // A queue file that cannot be read is set aside with one message; nothing crashes.
        form.reset();
        test::WriteFile(dir->File("prog/queue.xml"), "<PelldrinQueue><Task Path=");
        form = MakeForm();
        QTRY_COMPARE(dialogs->errors.size(), size_t(1));
        QVERIFY(dialogs->errors[0].find(dir->File("prog/queue-unreadable.xml")) !=
                std::string::npos);
        QCOMPARE(form->tasklist->count(), 0);
        QCOMPARE(test::ReadFile(dir->File("prog/queue-unreadable.xml")),
                 std::string("<PelldrinQueue><Task Path="));
        form->AddDroppedFiles({"/s/new.ass"});
        QCOMPARE(LoadQueueFile(dir->File("prog/queue.xml")).rows.size(), size_t(1));
    }

    void filesAreAddedWithoutDragging() {
        CreateFolders(dir->File("season"));
        for (const char* name : {"season/a.ass", "season/b.srt"}) {
            test::WriteFile(dir->File(name), "x");
        }
        auto form = MakeForm();
        QVERIFY(!form->tasklist->placeholderText().isEmpty()); // the empty list says how
        dialogs->filesAnswer = {dir->File("season/b.srt"), dir->File("elsewhere/c.ass")};
        form->addfilesm->trigger();
        QCOMPARE(form->addfilesm->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(form->tasklist->count(), 2);
        QVERIFY(dialogs->filters.back().find("*.ass *.ssa *.srt") != std::string::npos);
        dialogs->folderAnswer = dir->File("season");
        form->addfolderm->trigger();
        QCOMPARE(form->tasklist->count(), 3); // b.srt is listed already: a notice says so
        QCOMPARE(form->Queue().Get(2)->path, dir->File("season/a.ass"));
        QCOMPARE(dialogs->infos.size(), size_t(1));
        // Each chooser opens where files were last added from, also after a restart.
        QCOMPARE(dialogs->chooserOpenedAt[1], dir->File("season"));
        form = MakeForm();
        dialogs->filesAnswer.clear();
        form->addfilesm->trigger();
        QCOMPARE(dialogs->chooserOpenedAt.back(), dir->File("season"));

        // The Delete key removes the selected rows.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        Select(*form, {0, 2});
        form->tasklist->setFocus();
        QTest::keyClick(form->tasklist, Qt::Key_Delete);
        QCOMPARE(form->tasklist->count(), 1);
        QCOMPARE(form->Queue().Get(0)->path, dir->File("elsewhere/c.ass"));
    }

    void theTemplateRefusesABar() {
        auto form = MakeForm();
        form->AddDroppedFiles({"/s/one.ass"});
        Select(*form, {0});
        form->Cmdedit->clear();
        QTest::keyClicks(form->Cmdedit, "%0:s|x");
        QCOMPARE(form->Cmdedit->text(), QString("%0:sx"));
        QCOMPARE(form->Queue().GetField(0, CommandTemplate), std::string("%0:sx"));
    }

    void deleteAndClearKeepRowsAndRecordsTogether() {
        auto form = MakeForm();
        form->AddDroppedFiles({"/s/a_1.ass", "/s/b_2.ass", "/s/c_3.ass"});
        Select(*form, {1});
        form->deltaskmClick();
        QCOMPARE(form->tasklist->count(), 2);
        QCOMPARE(form->Queue().Get(1)->path, std::string("/s/c_3.ass"));
        QCOMPARE(form->Queue().GetField(1, NameTag), std::string("3"));
        form->ClmClick();
        QCOMPARE(form->tasklist->count(), 0);
        form->AddDroppedFiles({"/s/d_4.srt"});
        QCOMPARE(form->tasklist->count(), 1);
        QCOMPARE(form->Queue().Count(), size_t(1));
        QCOMPARE(form->Queue().GetField(0, NameTag), std::string("4"));
    }

    void startWithAnEmptyQueueSaysSo() {
        auto form = MakeForm();
        form->actbtnClick();
        QCOMPARE(dialogs->errors.size(), size_t(1));
        QCOMPARE(dialogs->errors[0], std::string("Start: queue empty"));
        QVERIFY(form->actbtn->isEnabled());
        QVERIFY(!form->Timer1->isActive());
    }

    void aMissingConverterPathKeepsTheWindowIdle() {
        test::WriteFile(dir->File("prog/config.xml"),
                        "<c><Path Output=\"/o\"/><Config DefLang=\"English\"/></c>");
        auto form = MakeForm();
        QTRY_COMPARE(dialogs->errors.size(), size_t(1)); // the missing settings
        form->AddDroppedFiles({Subtitle("a.srt")});
        form->actbtnClick();
        QCOMPARE(dialogs->errors.size(), size_t(2));
        QVERIFY(dialogs->errors[1].find("no converter") != std::string::npos);
        QVERIFY(!form->Run().BatchRunning());
        QVERIFY(form->actbtn->isEnabled());
    }

    void aThreeTaskRunEndsWithTheNotice() {
        auto form = MakeForm();
        form->AddDroppedFiles(
            {(Subtitle("one.srt")), (Subtitle("two.srt")), (Subtitle("three.srt"))});
        form->actbtnClick();
        QVERIFY(!form->actbtn->isEnabled());
        QVERIFY(form->brkbtn->isEnabled());
        QVERIFY(!form->group1->isEnabled());
        QVERIFY(!form->tasklist->isEnabled());
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->progbar->maximum(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        QVERIFY(dialogs->infos[0].rfind("Finished: done in ", 0) == 0);
        QCOMPARE(form->tasklist->count(), 0);
        QCOMPARE(form->Queue().Count(), size_t(0));
        QVERIFY(form->actbtn->isEnabled());
        QVERIFY(!form->brkbtn->isEnabled());
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->progbar->value(), 0);
        QVERIFY(FileExists(dir->File("out/two/two.xml")));
        QVERIFY(FileExists(dir->File("out/two/0.png")));
    }

    void aFailedTaskStaysMarkedWithItsReason() {
        auto form = MakeForm();
        form->AddDroppedFiles({(Subtitle("good.srt"))});
        form->Cmdedit->setText("%0:s --behave=exit:4");
        form->AddDroppedFiles({(Subtitle("bad.srt"))});
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        QVERIFY(dialogs->infos[0].find("1 failed") != std::string::npos);
        QCOMPARE(form->tasklist->count(), 1);
        QListWidgetItem* row = form->tasklist->item(0);
        QCOMPARE(row->text().toStdString(), dir->File("bad.srt"));
        QVERIFY(!row->icon().isNull());
        QVERIFY(row->toolTip().contains("exit status 4"));
    }

    void stopAnsweredNoThenYes() {
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --behave=hang");
        form->AddDroppedFiles({(Subtitle("a.srt")), (Subtitle("b.srt"))});
        form->actbtnClick();
        QTest::qWait(300);
        dialogs->answers = {false};
        form->brkbtnClick();
        QTest::qWait(300);
        QVERIFY(form->Run().BatchRunning());
        dialogs->answers = {true};
        form->brkbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 15000);
        QCOMPARE(dialogs->questions.size(), size_t(2));
        QCOMPARE(dialogs->questions[0], std::string("Confirm: stop?"));
        QVERIFY(dialogs->infos[0].find("\nThe run was stopped") != std::string::npos);
        QCOMPARE(form->tasklist->count(), 2); // the stopped task stays first
        QCOMPARE(form->tasklist->item(0)->text().toStdString(), dir->File("a.srt"));
        QVERIFY(form->tasklist->item(0)->icon().isNull());
        QCOMPARE(form->progbar->value(), 0);
        QVERIFY(form->actbtn->isEnabled());
    }

    void theStopQuestionClosesWhenTheRunEndsBehindIt() {
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --behave=slow:600");
        form->AddDroppedFiles({(Subtitle("a.srt"))});
        form->actbtnClick();
        dialogs->holdQuestions = true;
        form->brkbtnClick(); // returns when the question closes
        QCOMPARE(dialogs->questionsClosed, 1);
        QVERIFY(!form->Run().BatchRunning());
        QVERIFY(form->actbtn->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 5000);
        QVERIFY(dialogs->infos[0].find("stopped") == std::string::npos); // it ran to its end
        QCOMPARE(form->Queue().Count(), size_t(0));

        // The real question box closes the same way, answering No.
        QtDialogs real(form.get());
        QTimer::singleShot(50, form.get(), [&real] { real.CloseQuestions(); });
        QVERIFY(!real.AskYesNo("stop?", "Confirm"));
    }

    void closingDuringARunWithoutATrayAsksAsQuitDoes() {
        auto form = MakeForm();
        if (form->HasTray()) {
            QSKIP("this display has a tray: closing hides the window");
        }
        form->show();
        form->Cmdedit->setText("%0:s --behave=hang");
        form->AddDroppedFiles({(Subtitle("a.srt"))});
        form->actbtnClick();
        dialogs->answers = {false};
        form->close();
        QCOMPARE(dialogs->questions.back(), std::string("Confirm: quit?"));
        QVERIFY(form->isVisible());
        QVERIFY(form->Run().BatchRunning());
        dialogs->answers = {true};
        form->close();
        QVERIFY(!form->isVisible());
        QVERIFY(!form->Run().BatchRunning()); // the converter was stopped before the end
    }

    void theWindowOpensWhereItWasLeft() {
        auto form = MakeForm();
        form->show();
        // No saved place: the least size, centred.
        const QSize least = form->minimumSize();
        QCOMPARE(form->size(), least);
        const QRect area = form->screen()->availableGeometry();
        QVERIFY(qAbs(form->x() + form->width() / 2 - area.center().x()) <= 2);
        const QSize larger = (least + QSize(60, 40)).boundedTo(area.size());
        form->resize(larger);
        form->move(area.topLeft() + QPoint(20, 10));
        form->close();
        const std::string config = dir->File("prog/config.xml");
        QCOMPARE(ReadConfigValue(config, "Config", "WindowWidth").value(),
                 std::to_string(larger.width()));

        form = MakeForm();
        form->show();
        QCOMPARE(form->size(), larger);
        QCOMPARE(form->pos(), area.topLeft() + QPoint(20, 10));

        // A place on no screen any more: the same size, centred again.
        form.reset();
        WriteConfigValue(config, "Config", "WindowLeft", "-20000");
        form = MakeForm();
        form->show();
        QCOMPARE(form->size(), larger);
        QVERIFY(qAbs(form->x() + form->width() / 2 - area.center().x()) <= 2);
    }

    void quitDuringARunAsksAndStopsTheConverter() {
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --behave=hang");
        form->AddDroppedFiles({(Subtitle("a.srt"))});
        form->actbtnClick();
        QTest::qWait(300);
        dialogs->answers = {false};
        form->quitmClick();
        QVERIFY(form->Run().BatchRunning());
        dialogs->answers = {true};
        form->quitmClick();
        QVERIFY(!form->Run().BatchRunning());
        QCOMPARE(dialogs->questions[1], std::string("Confirm: quit?"));
    }

    void showToggles() {
        auto form = MakeForm();
        form->show();
        QVERIFY(form->isVisible());
        form->showmClick();
        QVERIFY(!form->isVisible());
        form->showmClick();
        QVERIFY(form->isVisible());
    }

    void theFolderChooserSetsTheOutputFolder() {
        auto form = MakeForm();
        dialogs->folderAnswer = "";
        form->browsebtnClick();
        QCOMPARE(form->Pathedit->text().toStdString(), dir->File("out") + "/");
        QCOMPARE(dialogs->chooserOpenedAt.back(), dir->File("out") + "/");
        dialogs->folderAnswer = "/";
        form->browsebtnClick();
        QCOMPARE(form->Pathedit->text(), QString("/"));
        dialogs->folderAnswer = dir->File("elsewhere");
        form->browsebtnClick();
        QCOMPARE(form->Pathedit->text().toStdString(), dir->File("elsewhere") + "/");
        QCOMPARE(form->CurrentSettings().OutputFolder, dir->File("elsewhere") + "/");
        form->browsebtnClick();
        QCOMPARE(dialogs->chooserOpenedAt.back(), dir->File("elsewhere") + "/");
        QCOMPARE(ReadConfigValue(dir->File("prog/config.xml"), "Path", "Output").value(),
                 dir->File("elsewhere") + "/");
    }

    void runOptionsAreWrittenThrough() {
        auto form = MakeForm();
        form->plvbox->setCurrentIndex(2);
        form->plvboxChange();
        form->closetc->setChecked(false);
        form->closetcClick();
        const std::string config = dir->File("prog/config.xml");
        QCOMPARE(ReadConfigValue(config, "Config", "ProcessPriority").value(), std::string("2"));
        QCOMPARE(ReadConfigValue(config, "Config", "CloseTrayicon").value(), std::string("0"));
        QCOMPARE(form->CurrentSettings().PriorityIndex, 2);
    }

    void anUnknownLanguageFallsBackToEnglishOnce() {
        WriteConfig("/standin_converter", "DefLang=\"Klingon\"");
        auto form = MakeForm();
        QTRY_COMPARE(dialogs->errors.size(), size_t(1));
        QVERIFY(dialogs->errors[0].find("\"Klingon\" was not found") != std::string::npos);
        QCOMPARE(form->EnEndBlack->text(), QString("Blank last event"));
        QCOMPARE(form->showm->text(), QString("Show window"));
        QCOMPARE(form->languageMenu->title(), QString("Language"));
        QTest::qWait(50);
        QCOMPARE(dialogs->errors.size(), size_t(1));
    }

    void aTaskWithWarningsStaysMarkedAndIsNotConvertedAgain() {
        auto form = MakeForm();
        form->AddDroppedFiles({Subtitle("clean.srt")});
        form->Cmdedit->setText("%0:s --warn=2");
        form->AddDroppedFiles({Subtitle("noisy.srt")});
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 30000);
        QVERIFY(dialogs->infos[0].find("1 file(s) were converted with warnings") !=
                std::string::npos);
        QVERIFY(dialogs->infos[0].find("failed") == std::string::npos);
        QCOMPARE(form->tasklist->count(), 1);
        QListWidgetItem* row = form->tasklist->item(0);
        QCOMPARE(row->text().toStdString(), dir->File("noisy.srt"));
        QVERIFY(!row->icon().isNull());
        QVERIFY(row->toolTip().contains("Warning: line 2"));
        QVERIFY(row->foreground().color() != QColor(170, 0, 0)); // not the failure mark
        if (const QString shots = qEnvironmentVariable("PELLDRIN_SCREENSHOTS"); !shots.isEmpty()) {
            form->show();
            QVERIFY(form->grab().save(shots + "/window-warnings.png"));
        }

        // Its menu: every warning in full, its folder, and its preview.
        Select(*form, {0});
        emit form->tasklist->customContextMenuRequested(QPoint(2, 2));
        form->pmenu1->hide();
        for (QAction* entry : {form->previewm, form->showwarnm, form->openfolderm}) {
            QVERIFY2(entry->isEnabled(), qPrintable(entry->text()));
        }
        form->showwarnm->trigger();
        QVERIFY(form->warningsForm);
        const QString listed = form->warningsForm->textedit->toPlainText();
        QVERIFY(listed.contains("Warning: line 1 " + QString(400, 'x') + "\n"));
        QVERIFY(listed.contains("\nWarning: line 2"));
        form->warningsForm->copybtn->click();
        QCOMPARE(QApplication::clipboard()->text(), listed);
        form->openfolderm->trigger();
        QCOMPARE(dialogs->opened.back(), dir->File("out/noisy"));
        form->previewm->trigger();
        QVERIFY(form->previewForm);
        QCOMPARE(form->previewForm->windowTitle(), QString("Preview: noisy.srt"));

        // A queued row without warnings: its folder is the output folder, until converted.
        form->AddDroppedFiles({Subtitle("later.srt")});
        Select(*form, {1});
        emit form->tasklist->customContextMenuRequested(QPoint(2, 2));
        form->pmenu1->hide();
        QVERIFY(!form->showwarnm->isEnabled());
        form->openfolderm->trigger();
        QCOMPARE(dialogs->opened.back(), dir->File("out") + "/");
        Select(*form, {1});
        form->deltaskmClick();

        form->actbtnClick();
        QCOMPARE(dialogs->errors.back(), std::string("Start: queue empty"));

        // Dropped again, its one row waits again, with its settings, and a notice says so.
        const std::string taskLine = form->Queue().Get(0)->taskLine;
        form->AddDroppedFiles({QString::fromStdString(dir->File("noisy.srt"))});
        QCOMPARE(form->tasklist->count(), 1);
        QCOMPARE(form->Queue().Get(0)->state, TaskState::Queued);
        QCOMPARE(form->Queue().Get(0)->taskLine, taskLine);
        QVERIFY(form->tasklist->item(0)->icon().isNull());
        QVERIFY(dialogs->infos.back().rfind("Already in the list: These converted files", 0) == 0);
        Select(*form, {0});
        form->deltaskmClick();
        QCOMPARE(form->tasklist->count(), 0);
    }

    void aConverterOverTheTimeLimitFailsTheTask() {
        WriteConfig("/standin_converter", "DefLang=\"English\" TaskTimeLimit=\"1\"");
        auto form = MakeForm();
        form->Cmdedit->setText("%0:s --behave=hang");
        form->AddDroppedFiles({Subtitle("stuck.srt")});
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->infos.empty(), 15000);
        QCOMPARE(form->tasklist->count(), 1);
        QVERIFY(form->tasklist->item(0)->toolTip().contains("time limit of 1 seconds"));
    }

    void foldersAndCommandLinePathsAreQueued() {
        CreateFolders(dir->File("season/sub"));
        for (const char* name :
             {"season/b.srt", "season/a.ass", "season/notes.txt", "season/sub/c.ass"}) {
            test::WriteFile(dir->File(name), "x");
        }
        auto form = MakeForm();
        form->AddDroppedFiles({QString::fromStdString(dir->File("season"))});
        QCOMPARE(form->tasklist->count(), 2);
        QCOMPARE(form->Queue().Get(0)->path, dir->File("season/a.ass"));
        QCOMPARE(form->Queue().Get(1)->path, dir->File("season/b.srt"));
        QCOMPARE(dialogs->errors.size(), size_t(1));
        QVERIFY(dialogs->errors[0].find("notes.txt\nsub") != std::string::npos);
        // A file dropped beside its own folder is one file of the drop, not listed already.
        form->ClmClick();
        form->AddDroppedFiles({QString::fromStdString(dir->File("season/a.ass")),
                               QString::fromStdString(dir->File("season"))});
        QCOMPARE(form->tasklist->count(), 2);
        QCOMPARE(dialogs->errors.size(), size_t(2)); // the folder's other files, as before
        QVERIFY2(dialogs->errors[1].find("already") == std::string::npos,
                 dialogs->errors[1].c_str());

        const QStringList paths = PathsFromCommandLine({"pelldrin", "ep 1.ass", "/abs/x.srt"});
        QCOMPARE(paths, QStringList({QDir::current().absoluteFilePath("ep 1.ass"), "/abs/x.srt"}));
    }

    void theLanguageSwitchAppliesAtOnceAndIsSaved() {
        std::string german = kEnglish;
        german.replace(german.find("Name=\"English\""), 14, "Name=\"Deutsch\"");
        german.replace(german.find("L014=\"Start\""), 12, "L014=\"Los\"");
        german.replace(german.find("C011=\"Language\""), 15,
                       "C011=\"Sprache\" L023=\"Aktuell\" L024=\"Normal\" L025=\"Niedriger\" "
                       "L026=\"Höher\" L027=\"Echtzeit\" L028=\"Schließen\"");
        test::WriteFile(dir->File("prog/lang/Deutsch.xml"), german);
        auto form = MakeForm();
        const auto items = form->languageMenu->actions();
        QCOMPARE(items.size(), 4);                      // two languages, a separator, About
        QCOMPARE(items[0]->text(), QString("Deutsch")); // sorted by file name
        QVERIFY(!items[0]->isChecked());
        QVERIFY(items[1]->isChecked());
        items[0]->trigger();
        QCOMPARE(form->actbtn->text(), QString("Los"));
        QCOMPARE(form->TntLabel1->text(), QString("Aktuell"));
        QCOMPARE(form->plvbox->itemText(1), QString("Niedriger"));
        QCOMPARE(form->languageMenu->title(), QString("Sprache"));
        QVERIFY(items[0]->isChecked());
        QVERIFY(!items[1]->isChecked());
        form->aboutm->trigger();
        QCOMPARE(form->aboutForm->closebtn->text(), QString("Schließen"));
        QCOMPARE(ReadConfigValue(dir->File("prog/config.xml"), "Config", "DefLang").value(),
                 std::string("Deutsch"));

        // Qt's own texts (the Yes of a question box) follow the language file's QtLocale,
        // from the program folder's translations, and go back with the language.
        const auto yes = [] { return QCoreApplication::translate("QPlatformTheme", "&Yes"); };
        const QString shipped = QFileInfo(PELLDRIN_RENDER).dir().filePath("translations");
        QVERIFY(QDir().mkpath(QString::fromStdString(dir->File("prog/translations"))));
        QVERIFY(
            QFile::copy(shipped + "/qtbase_zh_CN.qm",
                        QString::fromStdString(dir->File("prog/translations/qtbase_zh_CN.qm"))));
        german.replace(german.find("Name=\"Deutsch\""), 14, "Name=\"Deutsch\" QtLocale=\"zh_CN\"");
        test::WriteFile(dir->File("prog/lang/Deutsch.xml"), german);
        items[0]->trigger();
        QVERIFY2(yes() != "&Yes", qPrintable(yes()));
        items[1]->trigger();
        QCOMPARE(yes(), QString("&Yes"));
    }

    void thePreviewShowsTheRenderersFrameFromTheFirstEvent() {
        std::filesystem::create_symlink(PELLDRIN_RENDER, dir->File("prog/pelldrin-render"));
        WriteConfig("/pelldrin-render");
        const std::string path = dir->File("clip.srt");
        test::WriteFile(path, "1\n00:00:02,500 --> 00:00:04,000\n"
                              "<font color=\"nosuchcolour\">Hi there</font>\n");
        auto form = MakeForm();
        form->AddDroppedFiles({QString::fromStdString(path)}); // 1080p at 23.976
        Select(*form, {0});
        form->previewm->trigger();
        QVERIFY(form->previewForm);
        TPreviewForm& preview = *form->previewForm;
        QCOMPARE(preview.windowTitle(), QString("Preview: clip.srt"));
        // The clip as the script gives it (4 s and the margin); the first event's first frame.
        QCOMPARE(preview.timeslider->minimum(), 0);
        QCOMPARE(preview.timeslider->maximum(), 196);
        QCOMPARE(preview.timeslider->value(), 60);
        QCOMPARE(preview.timelabel->text(), QString("00:00:02.503"));

        QTRY_VERIFY_WITH_TIMEOUT(!preview.canvas->Picture().isNull(), 15000);
        const QImage picture = preview.canvas->Picture();
        QCOMPARE(picture.size(), QSize(1920, 1080));
        const auto box = preview.canvas->Box();
        QVERIFY(box.has_value());
        QCOMPARE(*box, VisibleBox(picture).value());
        QVERIFY(box->top() > 540); // a bottom-centred line
        QVERIFY(preview.warnlabel->isVisible());
        QVERIFY(preview.warnlabel->text().contains("nosuchcolour"));
        QVERIFY(preview.statuslabel->text().isEmpty());
        // The task's output folder is not touched.
        QVERIFY(!std::filesystem::exists(dir->File("out")));
        if (const QString shots = qEnvironmentVariable("PELLDRIN_SCREENSHOTS"); !shots.isEmpty()) {
            QVERIFY(preview.grab().save(shots + "/preview.png"));
        }

        // Before the first event the frame is empty, and the dialog says so.
        preview.timeslider->setValue(10);
        QCOMPARE(preview.timelabel->text(), QString("00:00:00.417"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !preview.canvas->Box().has_value() && !preview.canvas->Picture().isNull(), 15000);
        QCOMPARE(preview.statuslabel->text(), QString("Nothing is shown at this time."));

        // The file is read as the task's template says.
        form->Cmdedit->end(false);
        QTest::keyClicks(form->Cmdedit, " --charset NO-SUCH-CODE");
        form->previewm->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->previewForm->statuslabel->text().contains("NO-SUCH-CODE"),
                                 15000);
    }

    void aPreviewThatCannotBeDrawnSaysWhy() {
        WriteConfig("/no-such-renderer");
        auto form = MakeForm();
        form->AddDroppedFiles({Subtitle("a.srt"), Subtitle("gone.srt")});
        std::filesystem::remove(dir->File("gone.srt"));
        Select(*form, {1});
        form->previewmClick();
        QVERIFY(
            form->previewForm->statuslabel->text().startsWith("The preview could not be drawn:\n"));
        QVERIFY(form->previewForm->statuslabel->text().contains("gone.srt"));
        QVERIFY(!form->previewForm->timeslider->isEnabled());

        Select(*form, {0});
        form->previewmClick();
        QTRY_VERIFY(form->previewForm->statuslabel->text().contains("no-such-renderer"));
        QVERIFY(form->previewForm->canvas->Picture().isNull());
    }

    void aboutShowsTheVersionAndTheProgramFoldersFiles() {
        test::WriteFile(dir->File("prog/LICENSE"), "MIT License\n\nCopyright (c) test\n");
        auto form = MakeForm();
        QVERIFY(form->languageMenu->actions().contains(form->aboutm));
        QVERIFY(form->iconpop->actions().contains(form->aboutm));
        form->aboutm->trigger();
        QString text = form->aboutForm->textedit->toPlainText();
        QVERIFY(text.contains("Pelldrin 0.3.4.109"));
        QVERIFY(text.contains("Copyright (c) test"));
        QVERIFY(text.contains("The file THIRD-PARTY-NOTICES is missing from the program folder."));
        QVERIFY(form->aboutForm->textedit->isReadOnly());
        // Read when the box opens, not when the window started.
        test::WriteFile(dir->File("prog/THIRD-PARTY-NOTICES"), "libass  ISC\n");
        form->aboutm->trigger();
        text = form->aboutForm->textedit->toPlainText();
        QVERIFY(text.contains("libass  ISC"));
        QVERIFY(!text.contains("is missing"));
        if (const QString shots = qEnvironmentVariable("PELLDRIN_SCREENSHOTS"); !shots.isEmpty()) {
            QVERIFY(form->aboutForm->grab().save(shots + "/about.png"));
        }
    }
};

} // namespace

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"

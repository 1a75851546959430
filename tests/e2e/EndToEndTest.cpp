// A fresh program folder, real subtitle files dropped onto the window, the real
// renderer: what a new user gets, checked file by file.
#include "app/MainForm.h"
#include "base/FileSystem.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <pugixml.hpp>

#include <deque>

using namespace pelldrin;
namespace fs = std::filesystem;

namespace {

class AnsweringDialogs : public IDialogs {
  public:
    void ShowError(const std::string& text, const std::string&) override { errors.push_back(text); }
    void ShowInfo(const std::string& text, const std::string&) override { infos.push_back(text); }
    bool AskYesNo(const std::string& text, const std::string&) override {
        questions.push_back(text);
        return true;
    }
    void CloseQuestions() override {}
    std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
    bool OpenFolder(const std::string&) override { return true; }
    std::vector<std::string> ChooseFiles(const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
    std::vector<std::string> errors, infos, questions;
};

const char* kChineseAss = "[Script Info]\r\n"
                          "ScriptType: v4.00+\r\nPlayResX: 1920\r\nPlayResY: 1080\r\n\r\n"
                          "[V4+ Styles]\r\n"
                          "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                          "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, "
                          "ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, "
                          "MarginL, MarginR, MarginV, Encoding\r\n"
                          "Style: Default,WenQuanYi Micro Hei,64,&H00FFFFFF,&H000000FF,&H00000000,"
                          "&H80000000,0,0,0,0,100,100,0,0,1,3,1,2,20,20,40,1\r\n"
                          "Style: Top,WenQuanYi Micro Hei,48,&H0000FFFF,&H000000FF,&H00000000,"
                          "&H80000000,-1,0,0,0,100,100,0,0,1,2,0,8,20,20,30,1\r\n\r\n"
                          "[Events]\r\n"
                          "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                          "Effect, Text\r\n"
                          "Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,你好，世界\r\n"
                          "Dialogue: 0,0:00:01.00,0:00:02.00,Top,,0,0,0,,上方的字幕\r\n"
                          "Dialogue: 0,0:00:02.50,0:00:03.20,Default,,0,0,0,,第二行\\N第三行\r\n";

const char* kSrt = "1\n00:00:00,400 --> 00:00:01,200\nFirst <i>line</i>\n\n"
                   "2\n00:00:01,500 --> 00:00:02,600\nSecond line\nwith two rows\n";

const char* kSsa = "[Script Info]\r\nScriptType: v4.00\r\nPlayResX: 1024\r\nPlayResY: 576\r\n\r\n"
                   "[V4 Styles]\r\n"
                   "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                   "TertiaryColour, BackColour, Bold, Italic, BorderStyle, Outline, Shadow, "
                   "Alignment, MarginL, MarginR, MarginV, AlphaLevel, Encoding\r\n"
                   "Style: Default,DejaVu Sans,36,16777215,255,0,0,0,0,1,2,1,2,20,20,20,0,1\r\n\r\n"
                   "[Events]\r\n"
                   "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
                   "Text\r\n"
                   "Dialogue: Marked=0,0:00:00.20,0:00:01.00,Default,,0000,0000,0000,,Old style\r\n"
                   "Dialogue: Marked=0,0:00:01.20,0:00:02.00,Default,,0000,0000,0000,,Second\r\n";

// Width and height from a PNG's header.
std::pair<int, int> PngSize(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) {
        return {-1, -1};
    }
    auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) |
               (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) |
               static_cast<unsigned char>(bytes[at + 3]);
    };
    return {be32(16), be32(20)};
}

class EndToEndTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir;
    std::unique_ptr<AnsweringDialogs> dialogs;
    std::unique_ptr<TMainform> form;

    std::string Program() const { return dir->File("Pelldrin program"); }
    std::string Output() const { return Program() + "/output"; }

    QString WriteSubtitle(const std::string& name, const std::string& text) {
        const std::string path = dir->File("subs/" + name);
        test::WriteFile(path, text);
        return QString::fromStdString(path);
    }

    void WaitForNotice(std::size_t count, int timeoutMs = 600000) {
        QTRY_VERIFY_WITH_TIMEOUT(dialogs->infos.size() >= count, timeoutMs);
    }

    // Everything a finished task leaves: script, BDN XML with its blank events
    // around the others and its summary matching them, every image with the size the XML gives.
    void CheckTask(const std::string& name, const std::string& maskSubSize, int width, int height) {
        const std::string folder = Output() + "/" + name;
        QVERIFY2(fs::is_directory(folder), folder.c_str());
        const std::string script = ReadWholeFile(folder + "/" + name + ".avs");
        QVERIFY2(script.find("MaskSub(\"" + dir->File("subs/" + name)) != std::string::npos,
                 script.c_str());
        QVERIFY2(script.find(maskSubSize) != std::string::npos, script.c_str());

        pugi::xml_document doc;
        QVERIFY(doc.load_file((folder + "/" + name + ".xml").c_str()));
        const pugi::xml_node bdn = doc.child("BDN");
        const pugi::xml_node summary = bdn.child("Description").child("Events");
        std::vector<pugi::xml_node> events;
        for (pugi::xml_node e : bdn.child("Events").children("Event")) {
            events.push_back(e);
        }
        QVERIFY(events.size() >= 3);
        QCOMPARE(summary.attribute("NumberofEvents").as_int(), static_cast<int>(events.size()));
        // The first blank event before the renderer's events and the end one after them,
        // each declaring the size of the image it shows.
        const pugi::xml_node firstBlank = events.front();
        const pugi::xml_node endBlank = events.back();
        QCOMPARE(std::string(firstBlank.attribute("InTC").value()), std::string("00:00:00:00"));
        QCOMPARE(std::string(summary.attribute("FirstEventInTC").value()),
                 std::string("00:00:00:00"));
        QCOMPARE(std::string(summary.attribute("LastEventOutTC").value()),
                 std::string(endBlank.attribute("OutTC").value()));
        for (const pugi::xml_node blank : {firstBlank, endBlank}) {
            const pugi::xml_node g = blank.child("Graphic");
            QCOMPARE(std::string(g.child_value()), std::string("0.png"));
            QCOMPARE(std::make_pair(g.attribute("Width").as_int(), g.attribute("Height").as_int()),
                     std::make_pair(width, height));
        }
        // In time order, none overlapping the next (timecodes of equal width compare as text).
        for (std::size_t i = 1; i < events.size(); ++i) {
            QVERIFY(std::string(events[i - 1].attribute("OutTC").value()) <=
                    std::string(events[i].attribute("InTC").value()));
        }
        QCOMPARE(PngSize(folder + "/0.png"), std::make_pair(width, height));
        for (std::size_t i = 1; i + 1 < events.size(); ++i) {
            const pugi::xml_node g = events[i].child("Graphic");
            const std::string png = folder + "/" + g.child_value();
            QVERIFY2(FileExists(png), png.c_str());
            QCOMPARE(PngSize(png),
                     std::make_pair(g.attribute("Width").as_int(), g.attribute("Height").as_int()));
            QVERIFY(g.attribute("X").as_int() + g.attribute("Width").as_int() <= width);
            QVERIFY(g.attribute("Y").as_int() + g.attribute("Height").as_int() <= height);
        }
    }

  private slots:
    void init() {
        dir = std::make_unique<test::TempDir>();
        dialogs = std::make_unique<AnsweringDialogs>();
        // A fresh copy of the program folder the build assembles.
        const fs::path dist = PELLDRIN_DIST_DIR;
        fs::create_directories(Program());
        for (const char* entry : {"pelldrin-render", "config.xml", "lang", "srtstyle"}) {
            fs::copy(dist / entry, fs::path(Program()) / entry, fs::copy_options::recursive);
        }
        CreateFolders(dir->File("subs"));
        form = std::make_unique<TMainform>(Program(), dialogs.get());
    }
    void cleanup() {
        form.reset();
        dialogs.reset();
        dir.reset();
    }

    void threeFilesBecomeBluRaySubtitles() {
        QVERIFY(dialogs->errors.empty()); // the shipped configuration is complete
        QVERIFY(form->stylebox->count() > 1);
        // Every blank-event flag is on by default.
        QVERIFY(form->EnFirstBlack->isChecked() && form->EnEndBlack->isChecked());

        form->lbox->setCurrentIndex(0);   // 1080P
        form->FPSbox->setCurrentIndex(0); // 23.976
        form->ensupbox->setChecked(true);
        form->AddDroppedFiles({WriteSubtitle("chinese.ass", kChineseAss)});
        form->lbox->setCurrentIndex(1);   // 720P
        form->FPSbox->setCurrentIndex(2); // 25
        form->ensupbox->setChecked(false);
        form->stylebox->setCurrentIndex(1);
        const std::string style = form->stylebox->currentText().toStdString();
        form->AddDroppedFiles({WriteSubtitle("plain.srt", kSrt)});
        form->stylebox->setCurrentIndex(0);
        form->lbox->setCurrentIndex(4);   // 576i
        form->FPSbox->setCurrentIndex(1); // 29.97
        form->AddDroppedFiles({WriteSubtitle("old.ssa", kSsa)});
        QCOMPARE(form->tasklist->count(), 3);

        form->actbtnClick();
        WaitForNotice(1);
        QVERIFY2(dialogs->errors.empty(),
                 dialogs->errors.empty() ? "" : dialogs->errors[0].c_str());
        QCOMPARE(form->tasklist->count(), 0);
        QCOMPARE(form->Queue().Count(), size_t(0));

        CheckTask("chinese", ", 1920, 1080, 23.976, ", 1920, 1080);
        CheckTask("plain", ", 1280, 720, 25, ", 1280, 720);
        CheckTask("old", ", 1024, 576, 29.97, ", 720, 576);
        const std::string old = ReadWholeFile(Output() + "/old/old.avs");
        QVERIFY(old.find("LanczosResize(720,576)\r\n") != std::string::npos);
        // The chosen style was put beside the SRT file for the renderer, marked as ours.
        const std::string copied = ReadWholeFile(dir->File("subs/plain.srt.style"));
        QVERIFY(copied.rfind("; written by Pelldrin", 0) == 0);
        QCOMPARE(copied.substr(copied.find('\n') + 1),
                 ReadWholeFile(Program() + "/srtstyle/" + style));

        // The SUP stream of the first task decodes with an independent decoder.
        const std::string sup = Output() + "/chinese/chinese.sup";
        QVERIFY(FileExists(sup));
        QVERIFY(!FileExists(Output() + "/plain/plain.sup"));
        QProcess ffprobe;
        ffprobe.start("ffprobe", {"-v", "error", "-show_frames", "-of", "compact",
                                  QString::fromStdString(sup)});
        QVERIFY(ffprobe.waitForFinished(60000));
        QCOMPARE(ffprobe.exitCode(), 0);
        QCOMPARE(ffprobe.readAllStandardError(), QByteArray());
        // One decoded picture per event the renderer wrote (the blank events are
        // added to the XML afterwards and are not in the stream).
        int shown = 0;
        for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
            if (line.startsWith("subtitle|") && !line.contains("num_rects=0")) {
                ++shown;
            }
        }
        pugi::xml_document doc;
        QVERIFY(doc.load_file((Output() + "/chinese/chinese.xml").c_str()));
        const int events = doc.child("BDN")
                               .child("Description")
                               .child("Events")
                               .attribute("NumberofEvents")
                               .as_int();
        QCOMPARE(shown, events - 2);
    }

    void aCorruptFileFailsAndTheOthersComplete() {
        form->ensupbox->setChecked(false);
        std::string garbage = "\xFF\xFE";
        for (int i = 0; i < 3001; ++i) {
            garbage += static_cast<char>((i * 7919) % 256);
        }
        form->AddDroppedFiles({WriteSubtitle("good1.srt", kSrt),
                               WriteSubtitle("broken.ass", garbage),
                               WriteSubtitle("good2.srt", kSrt)});
        form->actbtnClick();
        WaitForNotice(1);
        QCOMPARE(form->tasklist->count(), 1);
        QListWidgetItem* row = form->tasklist->item(0);
        QCOMPARE(row->text().toStdString(), dir->File("subs/broken.ass"));
        QVERIFY(!row->icon().isNull());
        QVERIFY(!row->toolTip().isEmpty());
        QVERIFY(row->toolTip() != row->text());
        QVERIFY(FileExists(Output() + "/good1/good1.xml"));
        QVERIFY(FileExists(Output() + "/good2/good2.xml"));
        QVERIFY(dialogs->infos[0].find('1') != std::string::npos);
    }

    void aStoppedTaskStaysFirstAndConvertsNextTime() {
        form->ensupbox->setChecked(false);
        // A long animated span keeps the renderer busy long enough to stop it.
        std::string longAss = kChineseAss;
        longAss += "Dialogue: 0,0:00:04.00,0:00:40.00,Default,,0,0,0,,"
                   "{\\move(100,100,1800,1000)}移动的字幕 moving\r\n";
        form->FPSbox->setCurrentIndex(0);
        form->AddDroppedFiles(
            {WriteSubtitle("long.ass", longAss), WriteSubtitle("after.srt", kSrt)});
        form->actbtnClick();
        QTRY_VERIFY_WITH_TIMEOUT(form->cprogbar->value() > 0, 120000);
        form->brkbtnClick();
        WaitForNotice(1);
        QCOMPARE(form->tasklist->count(), 2);
        QCOMPARE(form->tasklist->item(0)->text().toStdString(), dir->File("subs/long.ass"));
        QVERIFY(form->tasklist->item(0)->icon().isNull()); // stopped, not failed

        form->actbtnClick();
        WaitForNotice(2);
        QCOMPARE(form->tasklist->count(), 0);
        QVERIFY(FileExists(Output() + "/long/long.xml"));
        QVERIFY(FileExists(Output() + "/after/after.xml"));
    }
};

} // namespace

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"

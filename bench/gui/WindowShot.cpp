// Takes pictures of the window for the README: idle with a queue, and during a
// run. Usage: bench_window_shot PROGRAM_FOLDER OUT_PREFIX SUBTITLE...
#include "app/Dialogs.h"
#include "app/MainForm.h"

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

namespace {
class NoDialogs : public pelldrin::IDialogs {
  public:
    void ShowError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ShowInfo(const std::string&, const std::string&) override { done = true; }
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
    std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
    void CloseQuestions() override {}
    bool OpenFolder(const std::string&) override { return false; }
    std::vector<std::string> ChooseFiles(const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
    bool done = false;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER OUT_PREFIX SUBTITLE...\n", argv[0]);
        return 2;
    }
    NoDialogs dialogs;
    pelldrin::TMainform form(argv[1], &dialogs);
    form.show();
    QStringList files;
    for (int i = 3; i < argc; ++i) {
        files << QString::fromLocal8Bit(argv[i]);
    }
    form.AddDroppedFiles(files);
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(500, [&] {
        form.grab().save(prefix + "-idle.png");
        form.actbtnClick();
    });
    // During the run: once the current file's bar has moved.
    QTimer poll;
    bool shot = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!shot && form.cprogbar->value() > form.cprogbar->maximum() / 3) {
            shot = true;
            form.grab().save(prefix + "-running.png");
        }
        if (dialogs.done) {
            form.grab().save(prefix + "-done.png");
            QApplication::exit(0);
        }
    });
    poll.start(20);
    return QApplication::exec();
}

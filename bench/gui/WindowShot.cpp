// Takes pictures of the window for the README: idle with a queue, and during a
// run. Usage: bench_window_shot PROGRAM_FOLDER OUT_PREFIX SUBTITLE...
#include "app/MainForm.h"
#include "gui/QuietDialogs.h"

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER OUT_PREFIX SUBTITLE...\n", argv[0]);
        return 2;
    }
    QuietDialogs dialogs;
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
        if (dialogs.notices > 0) {
            form.grab().save(prefix + "-done.png");
            QApplication::exit(0);
        }
    });
    poll.start(20);
    return QApplication::exec();
}

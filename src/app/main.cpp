// Pelldrin: starts the window in the program's current folder.
#include "app/MainForm.h"
#include "base/FileSystem.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pelldrin");
    QApplication::setApplicationVersion(pelldrin::kProgramVersion);
    QApplication::setWindowIcon(QIcon(":/pelldrin.png"));
    // The window may live in the tray alone; only closing it or quitting ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    pelldrin::TMainform form(pelldrin::CurrentFolder());
    form.show();
    // Files and folders from the command line ("open with") are queued like a drop.
    form.AddDroppedFiles(pelldrin::PathsFromCommandLine(QApplication::arguments()));
    return QApplication::exec();
}

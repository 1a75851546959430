// Writes the task script that the window's batch writes for a subtitle file with the
// window's default settings, and prints the converter's arguments as the batch runs
// them, each ended by a zero byte, so a script can run the real task.
//   task_command [--hdr10] SUBTITLE PROGRAM_FOLDER OUTPUT_FOLDER
// --hdr10 makes it the task for a UHD disc with HDR video (at the default white).
// The converter is PROGRAM_FOLDER/pelldrin-render, as the shipped config.xml names it.
#include "runner/CommandLineSplit.h"
#include "script/TaskRecord.h"
#include "script/TaskScript.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    pelldrin::TaskControls controls;
    if (argc == 5 && std::string(argv[1]) == "--hdr10") {
        controls.colour = pelldrin::kHdr10Colour;
        --argc;
        ++argv;
    }
    if (argc != 4) {
        std::cerr << "usage: task_command [--hdr10] SUBTITLE PROGRAM_FOLDER OUTPUT_FOLDER\n";
        return 2;
    }
    try {
        const std::string subtitle = argv[1];
        const pelldrin::TaskScript task =
            pelldrin::BuildTaskScript(subtitle, pelldrin::BuildTaskLine(subtitle, controls),
                                      argv[2], "/pelldrin-render", "/pelldrin-render", argv[3]);
        for (const std::string& warning : task.warnings) {
            std::cerr << "Warning: " << warning << '\n';
        }
        for (const std::string& arg : pelldrin::SplitCommandLine(task.commandLine)) {
            std::cout << arg << '\0';
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "task_command: " << e.what() << '\n';
        return 1;
    }
}

// pelldrin-render: draws a task script's subtitles into BDN XML with PNG images, or one
// frame of it into a PNG for a preview; lists and extracts the text tracks of Matroska files.
#include "base/FileSystem.h"
#include "render/MatroskaCommand.h"
#include "render/Preview.h"
#include "render/Renderer.h"

#include "PelldrinVersion.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Pictures are made on one thread and freed on another. With an allocation arena per
    // thread, each arena keeps the most it ever held; one shared arena keeps the run's
    // memory near what is in use at once, and costs no time here.
    mallopt(M_ARENA_MAX, 1);
#endif
    const std::vector<std::string> args = pelldrin::ProgramArguments(argc, argv);
    if (pelldrin::render::IsMatroskaRequest(args)) {
        return pelldrin::render::RunMatroskaCommand(args, std::cout, std::cerr);
    }
    if (pelldrin::render::IsPreviewRequest(args)) {
        return pelldrin::render::RunPreview(args, std::cout, std::cerr);
    }
    return pelldrin::render::RunRender(args, std::cout, std::cerr, pelldrin::kProgramVersion);
}

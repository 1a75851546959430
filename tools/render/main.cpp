// pelldrin-render: draws a task script's subtitles into BDN XML with PNG images, or one
// frame of it into a PNG for a preview; lists and extracts the text tracks of Matroska files.
#include "base/FileSystem.h"
#include "render/MatroskaCommand.h"
#include "render/Preview.h"
#include "render/Renderer.h"

#include "PelldrinVersion.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args = pelldrin::ProgramArguments(argc, argv);
    if (pelldrin::render::IsMatroskaRequest(args)) {
        return pelldrin::render::RunMatroskaCommand(args, std::cout, std::cerr);
    }
    if (pelldrin::render::IsPreviewRequest(args)) {
        return pelldrin::render::RunPreview(args, std::cout, std::cerr);
    }
    return pelldrin::render::RunRender(args, std::cout, std::cerr, pelldrin::kProgramVersion);
}

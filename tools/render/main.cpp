// pelldrin-render: draws a task script's subtitles into BDN XML with PNG images.
#include "render/Renderer.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return pelldrin::render::RunRender(args, std::cout, std::cerr);
}

// A converter that talks as fast as it can: many progress lines and plain
// lines, then a small BDN XML at the first -o path. The window benchmark runs it.
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    std::string xml;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "-o" && xml.empty()) {
            xml = argv[i + 1];
        }
    }
    const int total = 20000;
    for (int i = 0; i <= total; ++i) {
        std::printf("Progress: %d/%d - Events: %d\r", i, total, i / 10);
        if (i % 100 == 0) {
            std::printf("a plain line of output number %d\n", i);
        }
    }
    std::fflush(stdout);
    std::ofstream(xml, std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BDN Version=\"0.93\">"
           "<Description><Name Title=\"t\" Content=\"\"/><Language Code=\"zho\"/>"
           "<Format VideoFormat=\"1080p\" FrameRate=\"25\" DropFrame=\"false\"/>"
           "<Events LastEventOutTC=\"00:00:02:00\" FirstEventInTC=\"00:00:01:00\" "
           "ContentInTC=\"00:00:00:00\" ContentOutTC=\"00:00:03:00\" NumberofEvents=\"1\" "
           "Type=\"Graphic\"/></Description><Events><Event Forced=\"False\" "
           "InTC=\"00:00:01:00\" OutTC=\"00:00:02:00\"><Graphic Width=\"10\" Height=\"10\" "
           "X=\"0\" Y=\"0\">a.png</Graphic></Event></Events></BDN>\n";
    return 0;
}

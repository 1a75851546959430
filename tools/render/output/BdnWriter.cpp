#include "output/BdnWriter.h"

#include "base/Utf8.h"

#include <cstdio>

namespace pelldrin::render {

namespace {

// Escapes markup characters; bytes that are not valid UTF-8 become U+FFFD so the
// document always parses.
void AppendEscaped(std::string& out, const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const std::size_t n = Utf8SequenceLength(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            // Other control characters are not allowed in XML 1.0 at all.
            if (static_cast<unsigned char>(c) >= 0x20) {
                out += c;
            }
        }
    }
}

void Attribute(std::string& out, const char* name, const std::string& value) {
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value);
    out += '"';
}

} // namespace

std::string FrameToTimecode(std::int64_t frame, int base) {
    const std::int64_t frames = frame % base;
    const std::int64_t seconds = frame / base;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), static_cast<long long>(frames));
    return buf;
}

std::string BuildBdnXml(const BdnDocumentOut& doc) {
    const int base = doc.timecodeBase;
    const std::string zero = FrameToTimecode(0, base);
    std::string out;
    out.reserve(512 + doc.events.size() * 200);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<BDN Version=\"0.93\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:noNamespaceSchemaLocation=\"BD-03-006-0093b BDN File Format.xsd\">\n";
    out += "  <Description>\n    <Name";
    Attribute(out, "Title", doc.title);
    Attribute(out, "Content", "");
    out += "/>\n    <Language";
    Attribute(out, "Code", doc.language);
    out += "/>\n    <Format";
    Attribute(out, "VideoFormat", doc.videoFormat);
    Attribute(out, "FrameRate", doc.frameRate);
    Attribute(out, "DropFrame", "false");
    out += "/>\n    <Events";
    Attribute(out, "LastEventOutTC",
              doc.events.empty() ? zero : FrameToTimecode(doc.events.back().outFrame, base));
    Attribute(out, "FirstEventInTC",
              doc.events.empty() ? zero : FrameToTimecode(doc.events.front().inFrame, base));
    Attribute(out, "ContentInTC", zero);
    Attribute(out, "ContentOutTC", FrameToTimecode(doc.clipFrames, base));
    Attribute(out, "NumberofEvents", std::to_string(doc.events.size()));
    Attribute(out, "Type", "Graphic");
    out += "/>\n  </Description>\n  <Events>\n";
    for (const BdnEventOut& e : doc.events) {
        out += "    <Event";
        Attribute(out, "Forced", e.forced ? "True" : "False");
        Attribute(out, "InTC", FrameToTimecode(e.inFrame, base));
        Attribute(out, "OutTC", FrameToTimecode(e.outFrame, base));
        out += ">\n";
        for (const BdnGraphic& g : e.graphics) {
            out += "      <Graphic";
            Attribute(out, "Width", std::to_string(g.width));
            Attribute(out, "Height", std::to_string(g.height));
            Attribute(out, "X", std::to_string(g.x));
            Attribute(out, "Y", std::to_string(g.y));
            out += '>';
            AppendEscaped(out, g.file);
            out += "</Graphic>\n";
        }
        out += "    </Event>\n";
    }
    out += "  </Events>\n</BDN>\n";
    return out;
}

} // namespace pelldrin::render

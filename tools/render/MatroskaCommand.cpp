#include "render/MatroskaCommand.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "core/RenderErrors.h"
#include "input/RenderOptions.h"
#include "matroska/MatroskaFile.h"

#include <optional>

namespace pelldrin::render {

namespace {

constexpr const char* kTracksOption = "--tracks";
constexpr const char* kExtractOption = "--extract";

// What the command line asks for.
struct MatroskaRequest {
    std::string file;
    std::optional<std::int64_t> extract; // the track; none for --tracks
    std::string folder;
};

MatroskaRequest ParseMatroskaRequest(const std::vector<std::string>& args) {
    MatroskaRequest request;
    bool tracks = false;
    bool haveFolder = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kTracksOption) {
            tracks = true;
        } else if (arg == kExtractOption) {
            if (i + 1 >= args.size()) {
                throw UsageError("--extract needs a track number");
            }
            std::int64_t number = 0;
            if (!TryParseInt(args[++i], number) || number < 0) {
                throw UsageError("--extract takes a track number from 0 on, not \"" +
                                 QuoteForMessage(args[i]) + "\"");
            }
            request.extract = number;
        } else if (arg.compare(0, 2, "-o") == 0) {
            if (arg.size() > 2) {
                request.folder = arg.substr(2);
            } else if (i + 1 < args.size()) {
                request.folder = args[++i];
            } else {
                throw UsageError("option -o needs a value");
            }
            if (haveFolder) {
                throw UsageError("--extract writes into one folder: give one -o");
            }
            haveFolder = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option \"" + QuoteForMessage(arg) + "\" with " +
                             (tracks ? kTracksOption : kExtractOption));
        } else if (request.file.empty()) {
            request.file = arg;
        } else {
            throw UsageError("unexpected argument \"" + QuoteForMessage(arg) + "\"");
        }
    }
    if (tracks && request.extract) {
        throw UsageError("--tracks and --extract do not go together");
    }
    if (request.file.empty()) {
        throw UsageError("missing the Matroska file");
    }
    if (tracks && haveFolder) {
        throw UsageError("--tracks writes nothing: it takes no -o");
    }
    if (request.extract && (!haveFolder || request.folder.empty())) {
        throw UsageError("missing the folder to extract into (-o FOLDER)");
    }
    return request;
}

// A stored text on one field of a tab-separated line.
std::string Field(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return out.empty() ? "-" : out;
}

const char* KindWord(TrackKind kind) {
    switch (kind) {
    case TrackKind::Text:
        return "text";
    case TrackKind::Picture:
        return "picture";
    case TrackKind::OtherText:
        break;
    }
    return "other";
}

void ListTracks(const MatroskaHead& head, std::ostream& out) {
    for (const MatroskaTrack& t : head.tracks) {
        std::string flags;
        if (t.isDefault) {
            flags = "default";
        }
        if (t.isForced) {
            flags += flags.empty() ? "forced" : ",forced";
        }
        out << "track\t" << t.number << '\t' << KindWord(t.kind) << '\t' << Field(t.codec) << '\t'
            << Field(t.language) << '\t' << Field(flags) << '\t' << Field(t.name) << '\n';
    }
    for (const MatroskaAttachment& a : head.attachments) {
        if (a.font) {
            out << "font\t" << Field(a.name) << '\t' << Field(a.mimeType) << '\t' << a.size << '\n';
        }
    }
}

} // namespace

bool IsMatroskaRequest(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == kTracksOption || args[i] == kExtractOption) {
            return true;
        }
    }
    return false;
}

int RunMatroskaCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string program = "pelldrin-render";
    MatroskaRequest request;
    try {
        request = ParseMatroskaRequest(args);
    } catch (const UsageError& e) {
        err << program << ": " << e.what() << '\n' << UsageText();
        return 2;
    }
    try {
        if (!request.extract) {
            const MatroskaHead head = ReadMatroskaHead(request.file);
            for (const std::string& w : head.warnings) {
                err << "Warning: " << w << '\n';
            }
            ListTracks(head, out);
            return 0;
        }
        const ExtractedTrack done = ExtractTrack(request.file, *request.extract, request.folder);
        for (const std::string& w : done.warnings) {
            err << "Warning: " << w << '\n';
        }
        out << "Subtitle: " << done.subtitlePath << '\n';
        for (const std::string& font : done.fontPaths) {
            out << "Font: " << font << '\n';
        }
        return 0;
    } catch (const std::bad_alloc&) {
        err << program << ": out of memory while reading \"" << QuoteForMessage(request.file)
            << "\"\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return 1;
}

} // namespace pelldrin::render

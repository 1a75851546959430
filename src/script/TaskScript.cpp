#include "script/TaskScript.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "script/DirectiveFormat.h"
#include "script/SubtitleLength.h"
#include "script/TaskRecord.h"

#include <array>
#include <filesystem>
#include <optional>
#include <vector>

namespace pelldrin {

namespace {

// Track name for the SUP stream when the file name is not plain ASCII.
constexpr const char* kUnknownTrackName = "Unknow";
constexpr const char* kStyleFolderName = "srtstyle";
constexpr const char* kLineEnd = "\r\n";

// A path goes into the script and the command line between double quotes, one
// line each: a quote or a line break in it would end it early.
void CheckCarriable(const char* what, const std::string& path) {
    for (const char c : path) {
        if (c == '"' || c == '\r' || c == '\n' || c == '\0') {
            throw TaskScriptError(std::string("The ") + what + " \"" + path + "\" holds " +
                                  (c == '"' ? "a double quote" : "a line break or zero byte") +
                                  ", which the script and the command line cannot carry");
        }
    }
}

std::int64_t ReadNumberField(const std::vector<std::string>& fields, std::size_t index,
                             const char* name) {
    std::int64_t value = 0;
    if (!TryParseInt(Trim(fields[index]), value)) {
        throw TaskScriptError(std::string("The task's ") + name + " \"" + fields[index] +
                              "\" is not a number");
    }
    return value;
}

bool HasBlank(const std::string& text) {
    return text.find_first_of(" \t") != std::string::npos;
}

// Backslashes right before a closing quote would escape it when the line is split
// into arguments (a name like "a b\"); doubled, they stay backslashes.
void DoubleTrailingBackslashes(std::string& text) {
    const auto kept = text.find_last_not_of('\\');
    text.append(text.size() - (kept == std::string::npos ? 0 : kept + 1), '\\');
}

// Expands the template. A path or name with blanks is quoted so that it stays
// one argument, unless the template already puts it between quotes.
std::string ExpandCommandTemplate(const std::string& templ, const std::array<FormatArg, 4>& args) {
    std::string out;
    const auto pieces = ParseDirectives(templ, args.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const TemplatePiece& piece = pieces[i];
        if (!piece.directive) {
            out += piece.literal;
            continue;
        }
        const FormatArg& arg = args[piece.directive->argIndex];
        std::string text = FormatDirective(*piece.directive, arg);
        const auto* value = std::get_if<std::string>(&arg);
        const bool quotedByTemplate = !out.empty() && out.back() == '"';
        // The program name takes no escapes, so its backslashes stay as they are.
        const bool isProgram = out.find_first_not_of(" \t\"") == std::string::npos;
        if (value != nullptr && HasBlank(*value) && !quotedByTemplate) {
            if (!isProgram) {
                DoubleTrailingBackslashes(out); // the template's, right before the opening quote
                DoubleTrailingBackslashes(text);
            }
            text = "\"" + text + "\"";
        } else if (quotedByTemplate && !isProgram && i + 1 < pieces.size() &&
                   !pieces[i + 1].directive && pieces[i + 1].literal.front() == '"') {
            DoubleTrailingBackslashes(text);
        }
        out += text;
    }
    return out;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

bool IsStyleCopy(const std::string& path) {
    std::string bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const FileError&) {
        return false; // unreadable: not ours to touch
    }
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return text.substr(0, kStyleCopyMarker.size()) == kStyleCopyMarker;
}

// Puts the chosen style beside an SRT subtitle, as a marked copy. A marked copy from an
// earlier run is replaced or removed; a style file of the user's own is kept and used,
// and the returned warning names it. Every other step may fail without harm: the
// subtitle then renders with the plug-in's own style.
std::optional<std::string> PrepareSrtStyle(const std::string& sourcePath,
                                           const std::string& styleFile,
                                           const std::string& currentFolder) {
    const std::string target = StripExtension(sourcePath) + ".srt.style";
    const bool chosen = !Trim(styleFile).empty();
    if (FileExists(target) && !IsStyleCopy(target)) {
        std::string warning = "The style file \"" + target +
                              "\" is the user's own (not written by Pelldrin); it was kept and "
                              "is used";
        if (chosen) {
            warning += " instead of the chosen style \"" + styleFile + "\"";
        }
        return warning;
    }
    std::error_code ignored;
    std::filesystem::remove(ToFsPath(target), ignored);
    // Only a bare name from the style folder is copied, never a path elsewhere.
    if (!chosen || FileNamePart(styleFile) != styleFile) {
        return std::nullopt;
    }
    const std::string source = JoinPath(JoinPath(currentFolder, kStyleFolderName), styleFile);
    try {
        std::string text = ReadWholeFile(source);
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
            text.erase(0, 3); // the marker must be the file's first bytes
        }
        AtomicWriteFile(target, std::string(kStyleCopyMarker) + " from " + kStyleFolderName + "/" +
                                    styleFile + "; replaced or removed at each conversion" +
                                    kLineEnd + text);
    } catch (const FileError&) {
        // A missing style source leaves no style file.
    }
    return std::nullopt;
}

// The subtitle path a task script loads, from its MaskSub line; empty when there is none.
std::string ScriptSourcePath(const std::string& scriptPath) {
    std::string text;
    try {
        text = ReadWholeFile(scriptPath);
    } catch (const FileError&) {
        return {};
    }
    const std::string call = "MaskSub(\"";
    const auto start = text.find(call);
    if (start == std::string::npos) {
        return {};
    }
    const auto from = start + call.size();
    const auto end = text.find('"', from);
    return end == std::string::npos ? std::string() : text.substr(from, end - from);
}

std::string SubtitleName(const std::string& sourcePath) {
    const std::string name = StripExtension(FileNamePart(sourcePath));
    if (name.empty()) {
        throw TaskScriptError("The subtitle file \"" + sourcePath +
                              "\" has no name before its extension");
    }
    if (name == "." || name == "..") {
        // As a folder name it would be the output folder or the one above it.
        throw TaskScriptError("The subtitle file \"" + sourcePath + "\" has the name \"" + name +
                              "\", which cannot be a task folder");
    }
    return name;
}

} // namespace

std::string TaskOutputBase(const std::string& currentFolder, const std::string& outputFolder) {
    // A task folder always sits directly under the output folder, so tasks never nest.
    return ToFsPath(outputFolder).is_absolute() ? outputFolder
                                                : JoinPath(currentFolder, outputFolder);
}

std::string ChooseFolderName(const std::string& name, const std::string& base,
                             const std::function<bool(const std::string&)>& isOwn,
                             const std::string& what) {
    constexpr int kMaxTries = 1000;
    for (int n = 1; n <= kMaxTries; ++n) {
        const std::string candidate = n == 1 ? name : name + " (" + std::to_string(n) + ")";
        const std::string folder = JoinPath(base, candidate);
        const auto fsFolder = ToFsPath(folder);
        std::error_code error;
        if (!std::filesystem::exists(fsFolder, error) ||
            (std::filesystem::is_directory(fsFolder, error) &&
             std::filesystem::is_empty(fsFolder, error)) ||
            isOwn(folder)) {
            return candidate;
        }
    }
    throw TaskScriptError("Every task folder name for \"" + what + "\" under \"" + base +
                          "\" is taken");
}

const VideoFormat* VideoFormatFor(std::int64_t formatIndex) {
    if (formatIndex < 0 || formatIndex >= static_cast<std::int64_t>(kTaskFormatCount)) {
        return nullptr;
    }
    return &kVideoFormats[static_cast<std::size_t>(formatIndex)];
}

bool Hdr10Fits(const VideoFormat& format) {
    return format.label == "1080p";
}

const FrameRate* FrameRateFor(std::string_view rateIndex) {
    for (std::size_t i = 0; i < kTaskRateCount; ++i) {
        if (rateIndex == std::to_string(i)) {
            return &kFrameRates[i];
        }
    }
    return nullptr;
}

std::string ChooseTaskFolderName(const std::string& sourcePath, const std::string& currentFolder,
                                 const std::string& outputFolder) {
    const std::string name = SubtitleName(sourcePath);
    return ChooseFolderName(
        name, TaskOutputBase(currentFolder, outputFolder),
        [&](const std::string& folder) {
            return ScriptSourcePath(JoinPath(folder, name + ".avs")) == sourcePath;
        },
        sourcePath);
}

namespace {

// What a task line asks for.
struct TaskSettings {
    const VideoFormat* format = nullptr;
    const FrameRate* rate = nullptr;
    bool makeSup = false;
    std::string commandTemplate;
    std::string styleFile;
    std::optional<int> hdr10White; // set for an HDR10 task
};

// The white of an HDR10 task, nullopt for SDR. The renderer makes HDR10 pictures for the
// 1920x1080 graphics of a UHD disc alone: another format fails here, with the reason, rather
// than at the converter's usage message.
std::optional<int> ReadHdr10White(const std::vector<std::string>& fields,
                                  const VideoFormat& format) {
    const std::string& colour = fields[Colour];
    if (colour.empty() || colour == kSdrColour) {
        return std::nullopt; // an SDR task's white is kept but not used
    }
    if (colour != kHdr10Colour) {
        throw TaskScriptError("The task's colour \"" + colour + "\" is neither " + kSdrColour +
                              " nor " + kHdr10Colour);
    }
    const std::int64_t white = ReadNumberField(fields, White, "subtitle white");
    if (white < kMinWhite || white > kMaxWhite) {
        throw TaskScriptError("The task's subtitle white of " + std::to_string(white) +
                              " cd/m2 is outside " + std::to_string(kMinWhite) + " to " +
                              std::to_string(kMaxWhite));
    }
    if (!Hdr10Fits(format)) {
        throw TaskScriptError("HDR10 subtitles are made for 1080P only (the graphics of a UHD "
                              "disc are 1920x1080); this task's format is " +
                              std::string(format.listText) +
                              ": choose 1080P, or SDR for an HD disc");
    }
    return static_cast<int>(white);
}

TaskSettings ReadTaskSettings(const std::string& taskLine) {
    std::vector<std::string> fields;
    try {
        fields = SplitTaskLine(taskLine);
    } catch (const TaskLineError& e) {
        throw TaskScriptError(e.what());
    }
    TaskSettings settings;
    const std::int64_t formatIndex = ReadNumberField(fields, FormatIndex, "FormatIndex");
    settings.format = VideoFormatFor(formatIndex);
    if (!settings.format) {
        throw TaskScriptError("The task's FormatIndex " + std::to_string(formatIndex) +
                              " is not a video format (0 to 4)");
    }
    settings.rate = FrameRateFor(fields[RateIndex]);
    if (!settings.rate) {
        throw TaskScriptError("The task's RateIndex \"" + fields[RateIndex] +
                              "\" is not a frame rate (0 to 3)");
    }
    settings.makeSup = ReadNumberField(fields, MakeSup, "MakeSup") == 1;
    settings.commandTemplate = fields[CommandTemplate];
    settings.styleFile = fields[StyleFile];
    settings.hdr10White = ReadHdr10White(fields, *settings.format);
    return settings;
}

// The paths and tool names must go into the script and the command line whole.
void CheckTaskPaths(const std::string& sourcePath, const std::string& currentFolder,
                    const std::string& converterPath, const std::string& pluginPath,
                    const std::string& outputFolder) {
    CheckCarriable("subtitle path", sourcePath);
    CheckCarriable("current folder", currentFolder);
    CheckCarriable("converter path", converterPath);
    CheckCarriable("plug-in path", pluginPath);
    CheckCarriable("output folder", outputFolder);
    if (converterPath.empty()) {
        throw TaskScriptError("No converter path is configured");
    }
    if (pluginPath.empty()) {
        throw TaskScriptError("No plug-in path is configured");
    }
    if (Trim(outputFolder).empty()) {
        throw TaskScriptError("No output folder is configured");
    }
}

// The converter's command line: the expanded template, the outputs and the script.
std::string BuildCommandLine(const TaskSettings& settings, const std::string& name,
                             const std::string& converter, const std::string& xmlPath,
                             const std::string& supPath, const std::string& scriptPath) {
    const std::string trackName =
        settings.makeSup && HasByteAbove128(name) ? std::string(kUnknownTrackName) : name;
    const std::array<FormatArg, 4> args{converter, trackName, std::string(settings.format->label),
                                        std::string(settings.rate->text)};
    std::string command;
    try {
        command = ExpandCommandTemplate(settings.commandTemplate, args);
    } catch (const FormatError& e) {
        throw TaskScriptError(std::string("The command template cannot be used: ") + e.what());
    }
    // An SDR task's command line is what it always was.
    if (settings.hdr10White) {
        command += std::string(" --colour ") + kHdr10Colour + " --white " +
                   std::to_string(*settings.hdr10White);
    }
    command += " -o " + Quoted(xmlPath);
    if (settings.makeSup) {
        command += " -o " + Quoted(supPath);
    }
    command += " " + Quoted(scriptPath);
    return command;
}

// The script's text: the plug-in, the subtitle over a clip of the format, rate and length,
// and the format's extra line.
std::string BuildScriptText(const TaskSettings& settings, const std::string& plugin,
                            const std::string& sourcePath, std::int32_t frames) {
    const VideoFormat& format = *settings.format;
    std::string script;
    script += "LoadPlugin(" + Quoted(plugin) + ")" + kLineEnd;
    script += "MaskSub(" + Quoted(sourcePath) + ", " + std::to_string(format.renderWidth) + ", " +
              std::to_string(format.renderHeight) + ", " + std::string(settings.rate->text) + ", " +
              std::to_string(frames) + ")" + kLineEnd;
    if (!format.extraLine.empty()) {
        script += std::string(format.extraLine) + kLineEnd;
    }
    return script;
}

} // namespace

TaskScript BuildTaskScript(const std::string& sourcePath, const std::string& taskLine,
                           const std::string& currentFolder, const std::string& converterPath,
                           const std::string& pluginPath, const std::string& outputFolder,
                           const std::string& taskFolderName) {
    // Everything that can be checked is checked before any file is touched.
    const TaskSettings settings = ReadTaskSettings(taskLine);
    CheckTaskPaths(sourcePath, currentFolder, converterPath, pluginPath, outputFolder);
    const std::string name = SubtitleName(sourcePath);
    const std::string extension = FileExtension(sourcePath);
    const bool isAss = SameTextN(extension, ".ass", 4) || SameTextN(extension, ".ssa", 4);
    const bool isSrt = SameTextN(extension, ".srt", 4);

    TaskScript result;
    const std::string& folderName = taskFolderName.empty() ? name : taskFolderName;
    if (FileNamePart(folderName) != folderName || folderName == "." || folderName == "..") {
        throw TaskScriptError("The task folder name \"" + folderName + "\" is not a plain name");
    }
    result.taskFolder = JoinPath(TaskOutputBase(currentFolder, outputFolder), folderName);
    result.scriptPath = JoinPath(result.taskFolder, name + ".avs");
    result.commandLine = BuildCommandLine(
        settings, name, currentFolder + converterPath, JoinPath(result.taskFolder, name + ".xml"),
        JoinPath(result.taskFolder, name + ".sup"), result.scriptPath);
    const std::int32_t frames =
        CountSubtitleFrames(sourcePath, isAss ? skAssSsa : skSrt, settings.rate->decimal);
    const std::string script =
        BuildScriptText(settings, currentFolder + pluginPath, sourcePath, frames);

    CreateFolders(result.taskFolder);
    if (isSrt) {
        if (auto warning = PrepareSrtStyle(sourcePath, settings.styleFile, currentFolder)) {
            result.warnings.push_back(std::move(*warning));
        }
    }
    AtomicWriteFile(result.scriptPath, script);
    return result;
}

} // namespace pelldrin

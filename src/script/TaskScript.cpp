#include "script/TaskScript.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "script/DirectiveFormat.h"
#include "script/SubtitleLength.h"
#include "script/TaskRecord.h"

#include <array>
#include <filesystem>
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

// Replaces the style file beside an SRT subtitle. Every step may fail without
// harm: the subtitle then renders with the plug-in's own style.
void PrepareSrtStyle(const std::string& sourcePath, const std::string& styleFile,
                     const std::string& currentFolder) {
    const std::string target = StripExtension(sourcePath) + ".srt.style";
    std::error_code ignored;
    std::filesystem::remove(ToFsPath(target), ignored);
    // Only a bare name from the style folder is copied, never a path elsewhere.
    if (Trim(styleFile).empty() || FileNamePart(styleFile) != styleFile) {
        return;
    }
    const std::string source = JoinPath(JoinPath(currentFolder, kStyleFolderName), styleFile);
    try {
        AtomicWriteFile(target, ReadWholeFile(source));
    } catch (const FileError&) {
        // A missing style source leaves no style file.
    }
}

} // namespace

const VideoFormat* VideoFormatFor(std::int64_t formatIndex) {
    if (formatIndex < 0 || formatIndex >= static_cast<std::int64_t>(kTaskFormatCount)) {
        return nullptr;
    }
    return &kVideoFormats[static_cast<std::size_t>(formatIndex)];
}

const FrameRate* FrameRateFor(std::string_view rateIndex) {
    for (std::size_t i = 0; i < kTaskRateCount; ++i) {
        if (rateIndex == std::to_string(i)) {
            return &kFrameRates[i];
        }
    }
    return nullptr;
}

namespace {

// The task line's fields that shape the script and the command line.
struct TaskChoices {
    const VideoFormat* format = nullptr;
    const FrameRate* rate = nullptr;
    bool makeSup = false;
    std::string commandTemplate;
    std::string styleFile;
};

TaskChoices ReadTaskChoices(const std::string& taskLine) {
    std::vector<std::string> fields;
    try {
        fields = SplitTaskLine(taskLine);
    } catch (const TaskLineError& e) {
        throw TaskScriptError(e.what());
    }
    TaskChoices choices;
    const std::int64_t formatIndex = ReadNumberField(fields, FormatIndex, "FormatIndex");
    choices.format = VideoFormatFor(formatIndex);
    if (!choices.format) {
        throw TaskScriptError("The task's FormatIndex " + std::to_string(formatIndex) +
                              " is not a video format (0 to 4)");
    }
    choices.rate = FrameRateFor(fields[RateIndex]);
    if (!choices.rate) {
        throw TaskScriptError("The task's RateIndex \"" + fields[RateIndex] +
                              "\" is not a frame rate (0 to 3)");
    }
    choices.makeSup = ReadNumberField(fields, MakeSup, "MakeSup") == 1;
    choices.commandTemplate = fields[CommandTemplate];
    choices.styleFile = fields[StyleFile];
    return choices;
}

void CheckPaths(const std::string& sourcePath, const std::string& currentFolder,
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

// The subtitle's name without its extension: the task folder's and the files' name.
std::string TaskNameOf(const std::string& sourcePath) {
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

std::string ConverterCommandLine(const TaskChoices& choices, const std::string& program,
                                 const std::string& name, const std::string& taskFolder,
                                 const std::string& scriptPath) {
    const std::string trackName =
        choices.makeSup && HasByteAbove128(name) ? std::string(kUnknownTrackName) : name;
    const std::array<FormatArg, 4> args{program, trackName, std::string(choices.format->label),
                                        std::string(choices.rate->text)};
    std::string command;
    try {
        command = ExpandCommandTemplate(choices.commandTemplate, args);
    } catch (const FormatError& e) {
        throw TaskScriptError(std::string("The command template cannot be used: ") + e.what());
    }
    command += " -o " + Quoted(JoinPath(taskFolder, name + ".xml"));
    if (choices.makeSup) {
        command += " -o " + Quoted(JoinPath(taskFolder, name + ".sup"));
    }
    return command + " " + Quoted(scriptPath);
}

std::string ScriptText(const TaskChoices& choices, const std::string& pluginPath,
                       const std::string& sourcePath, std::int32_t frames) {
    const VideoFormat& format = *choices.format;
    std::string script;
    script += "LoadPlugin(" + Quoted(pluginPath) + ")" + kLineEnd;
    script += "MaskSub(" + Quoted(sourcePath) + ", " + std::to_string(format.renderWidth) + ", " +
              std::to_string(format.renderHeight) + ", " + std::string(choices.rate->text) + ", " +
              std::to_string(frames) + ")" + kLineEnd;
    if (!format.extraLine.empty()) {
        script += std::string(format.extraLine) + kLineEnd;
    }
    return script;
}

} // namespace

TaskScript BuildTaskScript(const std::string& sourcePath, const std::string& taskLine,
                           const std::string& currentFolder, const std::string& converterPath,
                           const std::string& pluginPath, const std::string& outputFolder) {
    // Everything that can be checked is checked before any file is touched.
    const TaskChoices choices = ReadTaskChoices(taskLine);
    CheckPaths(sourcePath, currentFolder, converterPath, pluginPath, outputFolder);
    const std::string name = TaskNameOf(sourcePath);
    const std::string extension = FileExtension(sourcePath);
    const bool isAss = SameTextN(extension, ".ass", 4) || SameTextN(extension, ".ssa", 4);
    const bool isSrt = SameTextN(extension, ".srt", 4);

    // A task folder always sits directly under the output folder, so tasks
    // never nest; a relative output folder is taken from the current folder.
    const std::string outputBase =
        ToFsPath(outputFolder).is_absolute() ? outputFolder : JoinPath(currentFolder, outputFolder);
    TaskScript result;
    result.taskFolder = JoinPath(outputBase, name);
    result.scriptPath = JoinPath(result.taskFolder, name + ".avs");
    result.commandLine = ConverterCommandLine(choices, currentFolder + converterPath, name,
                                              result.taskFolder, result.scriptPath);

    const std::int32_t frames =
        CountSubtitleFrames(sourcePath, isAss ? skAssSsa : skSrt, choices.rate->decimal);
    const std::string script = ScriptText(choices, currentFolder + pluginPath, sourcePath, frames);

    CreateFolders(result.taskFolder);
    if (isSrt) {
        PrepareSrtStyle(sourcePath, choices.styleFile, currentFolder);
    }
    AtomicWriteFile(result.scriptPath, script);
    return result;
}

} // namespace pelldrin

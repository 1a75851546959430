#include "script/TaskRecord.h"

#include "base/PathText.h"
#include "base/TextHelpers.h"

namespace pelldrin {

namespace {

void CheckFieldNumber(int k) {
    if (k < 0 || k >= kTaskFieldCount) {
        throw TaskLineError("There is no task field " + std::to_string(k));
    }
}

void CheckFieldValue(const std::string& value) {
    if (value.find('|') != std::string::npos) {
        throw TaskLineError("A task setting cannot contain \"|\": " + value);
    }
}

std::string Flag(bool on) {
    return on ? "1" : "0";
}

} // namespace

std::string NameTagFor(const std::string& path) {
    const auto pieces = SplitByDelimiter(StripExtension(FileNamePart(path)), '_');
    if (pieces.size() < 2) {
        return {};
    }
    std::string tag = pieces[1];
    // A file name may hold "|" on some systems; the tag is informational, so
    // the character is replaced rather than refusing the file.
    for (char& c : tag) {
        if (c == '|') {
            c = '_';
        }
    }
    return tag;
}

std::string BuildTaskLine(const std::string& path, const TaskControls& c) {
    CheckFieldValue(c.commandTemplate);
    CheckFieldValue(c.styleFile);
    CheckFieldValue(c.colour);
    const std::vector<std::string> fields = {std::to_string(c.formatIndex),
                                             std::to_string(c.rateIndex),
                                             Flag(c.makeSup),
                                             Flag(c.firstBlack),
                                             c.commandTemplate,
                                             NameTagFor(path),
                                             c.styleFile,
                                             Flag(c.endBlack),
                                             c.colour,
                                             std::to_string(c.white)};
    return JoinWith(fields, '|');
}

std::string TaskLineField(const std::string& taskLine, int field) {
    CheckFieldNumber(field);
    return SplitTaskLine(taskLine)[static_cast<std::size_t>(field)];
}

std::vector<std::string> SplitTaskLine(const std::string& taskLine) {
    auto fields = SplitByDelimiter(taskLine, '|');
    if (fields.size() == kOldTaskFieldCount) {
        // A record kept before tasks had a colour: it was, and stays, SDR.
        fields.emplace_back(kSdrColour);
        fields.push_back(std::to_string(kDefaultWhite));
    }
    if (fields.size() != kTaskFieldCount) {
        throw TaskLineError("The task record \"" + taskLine + "\" has " +
                            std::to_string(fields.size()) + " fields instead of 10 (or 8)");
    }
    return fields;
}

std::string WithTaskLineField(const std::string& taskLine, int field, const std::string& value) {
    CheckFieldNumber(field);
    CheckFieldValue(value);
    auto fields = SplitTaskLine(taskLine);
    fields[static_cast<std::size_t>(field)] = value;
    return JoinWith(fields, '|');
}

} // namespace pelldrin

#include "batch/QueueFile.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/PathText.h"
#include "base/TextHelpers.h"

#include <pugixml.hpp>

#include <filesystem>
#include <sstream>

namespace pelldrin {

namespace {

constexpr const char* kRoot = "PelldrinQueue";
constexpr const char* kRow = "Task";

struct StateName {
    TaskState state;
    const char* name;
};
constexpr StateName kStateNames[] = {
    {TaskState::Queued, "queued"},       {TaskState::Running, "running"},
    {TaskState::Failed, "failed"},       {TaskState::Stopped, "stopped"},
    {TaskState::Converted, "converted"},
};

const char* NameOf(TaskState state) {
    for (const auto& entry : kStateNames) {
        if (entry.state == state) {
            return entry.name;
        }
    }
    return "queued";
}

TaskState StateNamed(std::string_view name) {
    for (const auto& entry : kStateNames) {
        if (name == entry.name) {
            // It ended with the program that ran it.
            return entry.state == TaskState::Running ? TaskState::Stopped : entry.state;
        }
    }
    return TaskState::Queued;
}

// One row from its element; throws std::runtime_error when it cannot be a task.
TaskEntry ReadRow(const pugi::xml_node& row) {
    TaskEntry entry;
    entry.path = row.attribute("Path").as_string();
    if (entry.path.empty()) {
        throw std::runtime_error("a task without a Path");
    }
    auto fields = SplitTaskLine(BuildTaskLine(entry.path, TaskControls{}));
    for (int k = 0; k < kTaskFieldCount; ++k) {
        if (const pugi::xml_attribute value = row.attribute(kTaskFieldNames[k])) {
            fields[static_cast<std::size_t>(k)] = value.as_string();
        }
    }
    const std::string taskLine = JoinWith(fields, '|');
    SplitTaskLine(taskLine); // a "|" inside a value breaks the record
    entry.taskLine = taskLine;
    entry.state = StateNamed(row.attribute("State").as_string());
    entry.failureReason = row.attribute("Reason").as_string();
    entry.folder = row.attribute("Folder").as_string();
    for (const pugi::xml_node warning : row.children("Warning")) {
        entry.warnings.emplace_back(warning.text().as_string());
    }
    if (entry.state == TaskState::Converted && entry.warnings.empty()) {
        entry.state = TaskState::Queued; // nothing to read: it may as well be converted again
    }
    return entry;
}

std::string SetAsidePath(const std::string& path) {
    const std::string folder = FolderOf(path);
    for (int n = 1;; ++n) {
        const std::string name =
            n == 1 ? "queue-unreadable.xml" : "queue-unreadable-" + std::to_string(n) + ".xml";
        const std::string candidate = JoinPath(folder, name);
        std::error_code error;
        if (!std::filesystem::exists(ToFsPath(candidate), error) && !error) {
            return candidate;
        }
        if (n > 1000) {
            return {};
        }
    }
}

} // namespace

void SaveQueueFile(const std::string& path, const std::vector<TaskEntry>& rows) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child(kRoot);
    root.append_attribute("Version").set_value(1);
    for (const TaskEntry& entry : rows) {
        pugi::xml_node row = root.append_child(kRow);
        row.append_attribute("Path").set_value(entry.path.c_str());
        row.append_attribute("State").set_value(NameOf(entry.state));
        const auto fields = SplitTaskLine(entry.taskLine);
        for (int k = 0; k < kTaskFieldCount; ++k) {
            row.append_attribute(kTaskFieldNames[k])
                .set_value(fields[static_cast<std::size_t>(k)].c_str());
        }
        if (!entry.failureReason.empty()) {
            row.append_attribute("Reason").set_value(entry.failureReason.c_str());
        }
        if (!entry.folder.empty()) {
            row.append_attribute("Folder").set_value(entry.folder.c_str());
        }
        for (const std::string& warning : entry.warnings) {
            row.append_child("Warning").text().set(warning.c_str());
        }
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_indent | pugi::format_save_file_text, pugi::encoding_utf8);
    AtomicWriteFile(path, out.str());
}

QueueFileRead LoadQueueFile(const std::string& path) {
    QueueFileRead result;
    std::error_code missing;
    if (!std::filesystem::exists(ToFsPath(path), missing)) {
        return result;
    }
    try {
        const std::string bytes = ReadWholeFile(path);
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_buffer(bytes.data(), bytes.size());
        if (!parsed) {
            throw std::runtime_error(std::string(parsed.description()) + " at byte " +
                                     std::to_string(parsed.offset));
        }
        const pugi::xml_node root = doc.child(kRoot);
        if (!root) {
            throw std::runtime_error(std::string("no ") + kRoot + " element");
        }
        for (const pugi::xml_node row : root.children(kRow)) {
            result.rows.push_back(ReadRow(row));
        }
        return result;
    } catch (const std::exception& e) {
        result.rows.clear();
        result.error = "\"" + path + "\" cannot be read: " + e.what();
    }
    const std::string aside = SetAsidePath(path);
    std::error_code error;
    if (!aside.empty()) {
        std::filesystem::rename(ToFsPath(path), ToFsPath(aside), error);
    }
    if (!aside.empty() && !error) {
        result.setAsidePath = aside;
    }
    return result;
}

} // namespace pelldrin

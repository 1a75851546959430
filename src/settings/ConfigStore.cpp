#include "settings/ConfigStore.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"

#include <pugixml.hpp>

#include <sstream>

namespace pelldrin {

namespace {

// Comments and the declaration are kept; a rewritten file is indented anew,
// which is how the program ships it.
constexpr unsigned kParseFlags = pugi::parse_full;

void LoadConfig(const std::string& configPath, pugi::xml_document& doc) {
    std::string bytes;
    try {
        bytes = ReadWholeFile(configPath);
    } catch (const FileError& e) {
        throw ConfigError(e.what());
    }
    const pugi::xml_parse_result result = doc.load_buffer(bytes.data(), bytes.size(), kParseFlags);
    if (!result) {
        throw ConfigError("\"" + configPath + "\" is not a valid XML file: " +
                          result.description() + " at byte " + std::to_string(result.offset));
    }
}

pugi::xml_node FindGroup(const pugi::xml_document& doc, const std::string& configPath,
                         const std::string& group) {
    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node node = root ? root.child(group.c_str()) : pugi::xml_node();
    if (!node) {
        throw ConfigError("\"" + configPath + "\" has no group \"" + group + "\"");
    }
    return node;
}

bool IsAbsolute(const std::string& path) {
    return IsAbsolutePath(path);
}

} // namespace

std::string ConfigPath() {
    return JoinPath(CurrentFolder(), kConfigFileName);
}

std::optional<std::string> ReadConfigValue(const std::string& configPath, const std::string& group,
                                           const std::string& key) {
    pugi::xml_document doc;
    LoadConfig(configPath, doc);
    const pugi::xml_attribute attr = FindGroup(doc, configPath, group).attribute(key.c_str());
    if (!attr) {
        return std::nullopt;
    }
    return std::string(attr.value());
}

std::optional<std::string> ReadConfigValue(const std::string& group, const std::string& key) {
    return ReadConfigValue(ConfigPath(), group, key);
}

bool WriteConfigValues(const std::string& configPath, const std::string& group,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    try {
        pugi::xml_document doc;
        LoadConfig(configPath, doc);
        pugi::xml_node node = FindGroup(doc, configPath, group);
        for (const auto& [key, value] : values) {
            pugi::xml_attribute attr = node.attribute(key.c_str());
            if (!attr) {
                attr = node.append_attribute(key.c_str());
            }
            attr.set_value(value.c_str());
        }
        std::ostringstream out;
        doc.save(out, "  ", pugi::format_indent);
        AtomicWriteFile(configPath, out.str());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool WriteConfigValue(const std::string& configPath, const std::string& group,
                      const std::string& key, const std::string& value) {
    return WriteConfigValues(configPath, group, {{key, value}});
}

bool WriteConfigValue(const std::string& configPath, const std::string& group,
                      const std::string& key, int value) {
    return WriteConfigValue(configPath, group, key, std::to_string(value));
}

bool WriteConfigValue(const std::string& group, const std::string& key, const std::string& value) {
    return WriteConfigValue(ConfigPath(), group, key, value);
}

bool WriteConfigValue(const std::string& group, const std::string& key, int value) {
    return WriteConfigValue(ConfigPath(), group, key, value);
}

bool WriteWindowPlace(const std::string& configPath, const WindowPlace& place) {
    return WriteConfigValues(configPath, "Config",
                             {{"WindowLeft", std::to_string(place.left)},
                              {"WindowTop", std::to_string(place.top)},
                              {"WindowWidth", std::to_string(place.width)},
                              {"WindowHeight", std::to_string(place.height)}});
}

namespace {

// The window's place, when all four values are there and make a window at all.
std::optional<WindowPlace> ReadWindowPlace(const std::string& configPath) {
    constexpr std::int64_t kFar = 1'000'000; // beyond any screen, but well inside an int
    WindowPlace place;
    for (auto [key, value] : {std::pair{"WindowLeft", &place.left},
                              {"WindowTop", &place.top},
                              {"WindowWidth", &place.width},
                              {"WindowHeight", &place.height}}) {
        std::int64_t number = 0;
        try {
            const auto text = ReadConfigValue(configPath, "Config", key);
            if (!text || !TryParseInt(Trim(*text), number) || number < -kFar || number > kFar) {
                return std::nullopt;
            }
        } catch (const ConfigError&) {
            return std::nullopt;
        }
        *value = static_cast<int>(number);
    }
    if (place.width < 1 || place.height < 1) {
        return std::nullopt;
    }
    return place;
}

} // namespace

Settings LoadSettings(const std::string& configPath, const std::string& currentFolder) {
    Settings s;
    auto read = [&](const char* group, const char* key) -> std::optional<std::string> {
        try {
            auto value = ReadConfigValue(configPath, group, key);
            if (!value) {
                s.missing.push_back(std::string(group) + "/" + key);
            }
            return value;
        } catch (const ConfigError&) {
            s.missing.push_back(std::string(group) + "/" + key);
            return std::nullopt;
        }
    };
    auto readInt = [&](const char* group, const char* key, int fallback) {
        const auto text = read(group, key);
        std::int64_t value = 0;
        if (text && TryParseInt(Trim(*text), value) && value >= INT32_MIN && value <= INT32_MAX) {
            return static_cast<int>(value);
        }
        if (text) {
            s.missing.push_back(std::string(group) + "/" + key);
        }
        return fallback;
    };

    std::string output = read("Path", "Output").value_or("");
    if (Trim(output).empty()) {
        if (s.missing.empty() || s.missing.back() != "Path/Output") {
            s.missing.push_back("Path/Output");
        }
        output = kDefaultOutputFolder;
    }
    if (!IsAbsolute(output)) {
        output = JoinPath(currentFolder, output);
    }
    if (!EndsWithSeparator(output)) {
        output += kPathSeparator;
    }
    s.OutputFolder = output;
    s.CloseToTray = readInt("Config", "CloseTrayicon", 1);
    s.PriorityIndex = readInt("Config", "ProcessPriority", 0);
    s.DefaultLanguage = read("Config", "DefLang").value_or("");
    s.Window = ReadWindowPlace(configPath);
    return s;
}

Settings LoadSettings() {
    const std::string folder = CurrentFolder();
    return LoadSettings(JoinPath(folder, kConfigFileName), folder);
}

} // namespace pelldrin

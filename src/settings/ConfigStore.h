// The configuration file "config.xml": single values by group and key, and the
// start-up load of the in-memory settings.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pelldrin {

// The configuration could not be read; the message names the file and the cause.
class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kConfigFileName = "config.xml";

// The path of config.xml in the current folder.
std::string ConfigPath();

// The value of attribute key on the root's first child named group; nullopt
// when the group has no such attribute. Throws ConfigError when the file is
// missing, not XML, or has no such group.
std::optional<std::string> ReadConfigValue(const std::string& configPath, const std::string& group,
                                           const std::string& key);
std::optional<std::string> ReadConfigValue(const std::string& group, const std::string& key);

// Sets attribute key of group (creating the attribute) and rewrites the file
// atomically; false on any failure, with the file left as it was.
bool WriteConfigValue(const std::string& configPath, const std::string& group,
                      const std::string& key, const std::string& value);
bool WriteConfigValue(const std::string& configPath, const std::string& group,
                      const std::string& key, int value);
bool WriteConfigValue(const std::string& group, const std::string& key, const std::string& value);
// Sets several attributes of group in one rewrite; false on any failure, with the file
// left as it was.
bool WriteConfigValues(const std::string& configPath, const std::string& group,
                       const std::vector<std::pair<std::string, std::string>>& values);
bool WriteConfigValue(const std::string& group, const std::string& key, int value);

// Where the window was last: the position of its frame and the size of its inside, as
// Config/WindowLeft, WindowTop, WindowWidth and WindowHeight.
struct WindowPlace {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const WindowPlace&) const = default;
};

// Writes the window's place in one rewrite; false on any failure.
bool WriteWindowPlace(const std::string& configPath, const WindowPlace& place);

// The settings held in memory while the program runs.
struct Settings {
    std::string OutputFolder;    // absolute, ends with a separator
    int CloseToTray = 1;         // 1: minimising hides the window to the tray
    int PriorityIndex = 0;       // 0 normal, 1 lower, 2 higher, 3 realtime
    std::string DefaultLanguage; // Name of the chosen language file
    // The window's last place; none when a value is missing or unusable, and then the window
    // opens where it always did (not listed in `missing`: older files have no place).
    std::optional<WindowPlace> Window;
    // "Group/Key" of every value that was missing or unreadable and took its default.
    std::vector<std::string> missing;
};

// The output folder used when the configuration names none.
inline constexpr const char* kDefaultOutputFolder = "output";

// Loads the four settings from configPath. Never throws: a missing file,
// group or key, or a value that does not read, takes its default and is
// listed in `missing`. A relative output folder is resolved against
// currentFolder, and a final separator is ensured.
Settings LoadSettings(const std::string& configPath, const std::string& currentFolder);
// The same for config.xml in the current folder.
Settings LoadSettings();

} // namespace pelldrin

// config.xml of any bytes: LoadSettings never throws, and WriteConfigValue either
// leaves the file byte for byte as it was or changes exactly the one value.
#include "FuzzSupport.h"

#include "settings/ConfigStore.h"

#include <map>
#include <optional>
#include <pugixml.hpp>

using namespace pelldrin;

namespace {

struct Value {
    bool readable = false; // false: ReadConfigValue threw
    std::optional<std::string> text;
    bool operator==(const Value&) const = default;
};

using Values = std::map<std::pair<std::string, std::string>, Value>;

// Every group and key the file seems to have, plus the ones the program uses, as
// ReadConfigValue gives them.
Values ReadAll(const std::string& path, std::string_view bytes) {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"Path", "Output"},          {"Path", "Avs2bdnxml"},        {"Path", "VSFilter"},
        {"Config", "CloseTrayicon"}, {"Config", "ProcessPriority"}, {"Config", "DefLang"}};
    pugi::xml_document doc;
    if (doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_full)) {
        for (pugi::xml_node group : doc.document_element().children()) {
            for (pugi::xml_attribute attr : group.attributes()) {
                keys.emplace_back(group.name(), attr.name());
            }
        }
    }
    Values values;
    for (const auto& key : keys) {
        Value v;
        try {
            v.text = ReadConfigValue(path, key.first, key.second);
            v.readable = true;
        } catch (const ConfigError&) {
        }
        values[key] = v;
    }
    return values;
}

constexpr const char* kGroups[] = {"Path", "Config", "Other"};
constexpr const char* kKeys[] = {"Output", "DefLang", "ProcessPriority", "New"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choice = in.Byte();
    const std::string group = kGroups[choice % 3];
    const std::string key = kKeys[(choice >> 2) % 4];
    const std::string value(in.Until('\0')); // a value from the window has no zero byte
    const std::string_view file = in.Rest();

    const std::string folder = fuzz::ScratchFolder();
    const std::string path = folder + "/config.xml";
    fuzz::WriteBytes(path, file);

    const Settings settings = LoadSettings(path, "/current");
    FUZZ_CHECK(!settings.OutputFolder.empty() && settings.OutputFolder.back() == '/');
    FUZZ_CHECK(settings.OutputFolder.front() == '/');

    const Values before = ReadAll(path, file);
    if (!WriteConfigValue(path, group, key, value)) {
        FUZZ_CHECK(fuzz::ReadBytes(path) == file);
        FUZZ_CHECK(fuzz::FolderEntries(folder).size() == 1);
        return 0;
    }
    FUZZ_CHECK(fuzz::FolderEntries(folder).size() == 1);
    const auto written = ReadConfigValue(path, group, key);
    FUZZ_CHECK(written && *written == value);
    Values after = ReadAll(path, file);
    after.erase({group, key});
    Values expected = before;
    expected.erase({group, key});
    FUZZ_CHECK(after == expected);
    return 0;
}

#include "settings/Language.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "settings/ConfigStore.h"
#include "settings/FileListing.h"

#include <pugixml.hpp>

#include <utility>

namespace pelldrin {

namespace {

// The English texts, in key order; the shipped English.xml carries the same.
const std::vector<std::pair<std::string, std::string>>& BuiltInMessages() {
    static const std::vector<std::pair<std::string, std::string>> messages{
        {"C001", "Only .ass, .ssa and .srt subtitle files can be added; this file was skipped."},
        {"C002", "Unsupported file"},
        {"C003", "The task list is empty. Drop subtitle files onto the window first."},
        {"C004", "Nothing to convert"},
        {"C005", "Conversion finished in %d second(s)."},
        {"C006", "Done"},
        {"C007", "A conversion is still running. Stop it and quit?"},
        {"C008", "Please confirm"},
        {"C009", "Stop the running conversion?"},
        {"C010", "Converting, please wait..."},
        {"C011", "Language"},
        {"C012", "Choose the folder for the converted subtitles:"},
        {"C013", "%d file(s) could not be converted; they stay in the list marked as failed."},
        {"C014", "Some settings were missing from config.xml and take their defaults: %s"},
        {"C015",
         "config.xml does not name the converter (Path/Avs2bdnxml), so nothing can be converted."},
        {"C016", "Pelldrin"},
        {"C017", "%d file(s) were converted with warnings; they stay in the list marked "
                 "(Show warnings... in a row's menu lists them)."},
        {"C018", "The language \"%s\" was not found or its file cannot be read; the window "
                 "shows English."},
        {"C019", "The converter's priority could not be changed; the conversion goes on at the "
                 "usual priority."},
        {"C020", "Only .ass, .ssa and .srt files are added from a folder; these were skipped:"},
        {"C021", "Preview: %s"},
        {"C022", "The preview could not be drawn:"},
        {"C023", "Nothing is shown at this time."},
        {"C024", "About Pelldrin"},
        {"C025", "The file %s is missing from the program folder."},
        {"C026", "The run was stopped; the stopped file stays first in the list."},
        {"C027", "These files are already in the list and were not added again (a file's "
                 "settings can be changed in its row):"},
        {"C028", "Warnings: %s"},
        {"C029", "The folder %s could not be opened."},
        {"C030", "Add subtitle files"},
        {"C031", "Add the subtitle files of a folder"},
        {"C032", "Only files on this computer can be added; these addresses were refused:"},
        {"C033", "These converted files were queued again, with their own settings:"},
        {"C034", "Already in the list"},
        {"C035", "Blu-ray discs do not use %s at %s frames per second."},
        {"C036", "The saved task list could not be read (%s). It was set aside as %s; the list "
                 "starts empty."},
        {"C037", "The saved task list could not be read (%s), nor set aside; the list starts "
                 "empty and is not saved until the next start."},
        {"C038", "The task list could not be saved: %s"},
        {"C039", "Subtitle files"},
        {"C040", "Stopped before it was done; it starts over at the next Start."},
        {"C041", "Drop subtitle files here, or Add files (File menu, Ctrl+O)."},
    };
    return messages;
}

// The built-in captions, in key order: English, but for the captions that were fixed
// texts before they had keys, which keep those texts; the shipped English.xml carries
// English for all.
const std::vector<std::pair<std::string, std::string>>& BuiltInCaptions() {
    static const std::vector<std::pair<std::string, std::string>> captions{
        {"L001", "Output folder:"},
        {"L002", "Browse..."},
        {"L003", "Total:"},
        {"L004", "Task settings"},
        {"L005", "Format:"},
        {"L006", "Frame rate:"},
        {"L007", "Also make SUP"},
        {"L008", "Blank first event"},
        {"L009", "Command:"},
        {"L010", "SRT style:"},
        {"L011", "Run options"},
        {"L012", "Minimise to tray"},
        {"L013", "Priority:"},
        {"L014", "Start"},
        {"L015", "Stop"},
        {"L016", "Delete task"},
        {"L017", "Clear list"},
        {"L018", "Show window"},
        {"L019", "Quit"},
        {"L020", "Blank last event"},
        {"L021", "Preview..."},
        {"L022", "About..."},
        {"L023", "当前进度"},
        {"L024", "Normal"},
        {"L025", "Lower"},
        {"L026", "Higher"},
        {"L027", "Realtime(Warning)"},
        {"L028", "Close"},
        {"L029", "Show warnings..."},
        {"L030", "Open output folder"},
        {"L031", "Copy"},
        {"L032", "File"},
        {"L033", "Add files..."},
        {"L034", "Add folder..."},
        {"L035", "(no style)"},
    };
    return captions;
}

// The Lang element of a loaded document; throws when the file is unusable.
pugi::xml_node LoadElement(const std::string& file, const std::string& element,
                           pugi::xml_document& doc) {
    std::string bytes;
    try {
        bytes = ReadWholeFile(file);
    } catch (const FileError& e) {
        throw LanguageError(e.what());
    }
    const pugi::xml_parse_result result = doc.load_buffer(bytes.data(), bytes.size());
    if (!result) {
        throw LanguageError("\"" + file + "\" is not a valid XML file: " + result.description() +
                            " at byte " + std::to_string(result.offset));
    }
    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node node = root ? root.child(element.c_str()) : pugi::xml_node();
    if (!node) {
        throw LanguageError("\"" + file + "\" has no " + element + " element");
    }
    return node;
}

} // namespace

namespace {

template <typename Table> std::vector<std::string> KeysOf(const Table& table) {
    std::vector<std::string> keys;
    for (const auto& [key, text] : table) {
        keys.push_back(key);
    }
    return keys;
}

template <typename Table>
std::optional<std::string> TextOf(const Table& table, const std::string& key) {
    for (const auto& [k, text] : table) {
        if (k == key) {
            return text;
        }
    }
    return std::nullopt;
}

} // namespace

const std::vector<std::string>& CaptionKeys() {
    static const std::vector<std::string> keys = KeysOf(BuiltInCaptions());
    return keys;
}

std::optional<std::string> BuiltInCaption(const std::string& key) {
    return TextOf(BuiltInCaptions(), key);
}

const std::vector<std::string>& MessageKeys() {
    static const std::vector<std::string> keys = KeysOf(BuiltInMessages());
    return keys;
}

std::optional<std::string> BuiltInMessage(const std::string& key) {
    return TextOf(BuiltInMessages(), key);
}

LanguageTexts BuiltInLanguageTexts() {
    LanguageTexts texts;
    texts.Name = "English";
    for (const auto& [key, text] : BuiltInCaptions()) {
        texts.Captions[key] = text;
    }
    return texts; // messages come from the built-in texts through MessageText
}

std::optional<std::string> ReadXmlValue(const std::string& file, const std::string& element,
                                        const std::string& attribute) {
    pugi::xml_document doc;
    const pugi::xml_attribute attr = LoadElement(file, element, doc).attribute(attribute.c_str());
    if (!attr) {
        return std::nullopt;
    }
    return std::string(attr.value());
}

LanguageTexts LoadLanguageTexts(const std::string& file) {
    // One parse for all slots, so they cannot come from two versions of the file.
    pugi::xml_document doc;
    const pugi::xml_node lang = LoadElement(file, kLanguageElement, doc);
    auto required = [&](const std::string& key) {
        const pugi::xml_attribute attr = lang.attribute(key.c_str());
        if (!attr) {
            throw LanguageError("\"" + file + "\" has no " + key + " text");
        }
        return std::string(attr.value());
    };

    LanguageTexts texts;
    texts.Name = required("Name");
    if (Trim(texts.Name).empty()) {
        throw LanguageError("\"" + file + "\" has an empty Name");
    }
    texts.QtLocale = lang.attribute("QtLocale").as_string();
    const auto& captionKeys = CaptionKeys();
    for (std::size_t i = 0; i < captionKeys.size(); ++i) {
        const std::string& key = captionKeys[i];
        if (i < static_cast<std::size_t>(kCaptionCount)) {
            texts.Captions[key] = required(key);
        } else if (const pugi::xml_attribute attr = lang.attribute(key.c_str())) {
            texts.Captions[key] = attr.value();
        }
    }
    const auto& messageKeys = MessageKeys();
    for (std::size_t i = 0; i < messageKeys.size(); ++i) {
        const std::string& key = messageKeys[i];
        if (i < static_cast<std::size_t>(kRequiredMessageCount)) {
            texts.Messages[key] = required(key);
        } else if (const pugi::xml_attribute attr = lang.attribute(key.c_str())) {
            texts.Messages[key] = attr.value();
        }
    }
    return texts;
}

void ApplyCaptions(const LanguageTexts& texts, ICaptionTarget& target) {
    for (const std::string& key : CaptionKeys()) {
        const auto it = texts.Captions.find(key);
        if (it != texts.Captions.end()) {
            target.SetCaption(key, it->second);
        } else if (const auto english = BuiltInCaption(key)) {
            target.SetCaption(key, *english);
        }
    }
}

void ApplyLanguage(const std::string& file, LanguageTexts& slots, ICaptionTarget& target) {
    LanguageTexts loaded = LoadLanguageTexts(file);
    slots = std::move(loaded);
    ApplyCaptions(slots, target);
}

std::string MessageText(const LanguageTexts& slots, const std::string& key) {
    const auto it = slots.Messages.find(key);
    if (it != slots.Messages.end()) {
        return it->second;
    }
    return BuiltInMessage(key).value_or(key);
}

std::string CaptionText(const LanguageTexts& slots, const std::string& key) {
    const auto it = slots.Captions.find(key);
    if (it != slots.Captions.end()) {
        return it->second;
    }
    return BuiltInCaption(key).value_or(key);
}

std::string FormatMessageText(const LanguageTexts& slots, const std::string& key,
                              std::span<const FormatArg> args) {
    try {
        return ExpandDirectives(MessageText(slots, key), args);
    } catch (const FormatError&) {
        const auto english = BuiltInMessage(key);
        if (!english) {
            throw;
        }
        return ExpandDirectives(*english, args);
    }
}

std::string QtLocaleOf(const LanguageTexts& texts) {
    if (!texts.QtLocale.empty()) {
        return texts.QtLocale;
    }
    // The languages shipped before files named their locale.
    static const std::pair<const char*, const char*> kShipped[] = {{"简体中文", "zh_CN"}};
    for (const auto& [name, locale] : kShipped) {
        if (texts.Name == name) {
            return locale;
        }
    }
    return {};
}

std::string LanguageFolder() {
    return JoinPath(CurrentFolder(), kLanguageFolderName);
}

LanguageMenu BuildLanguageMenu(const std::string& langFolder, const std::string& defaultLanguage,
                               LanguageTexts& slots, ICaptionTarget& target,
                               std::ostream& warnings) {
    LanguageMenu menu;
    std::optional<LanguageTexts> chosen;
    for (const std::string& file : ListFiles(langFolder, kLanguageMask)) {
        LanguageTexts texts;
        try {
            texts = LoadLanguageTexts(file);
        } catch (const LanguageError& e) {
            warnings << "Pelldrin: skipping a language file: " << e.what() << '\n';
            continue;
        }
        menu.entries.push_back({texts.Name, file});
        // When several files carry the saved name, the last one wins.
        if (texts.Name == defaultLanguage) {
            menu.caption = texts.Messages["C011"];
            menu.applied = menu.entries.size() - 1;
            chosen = std::move(texts);
        }
    }
    if (chosen) {
        slots = std::move(*chosen);
        ApplyCaptions(slots, target);
    }
    return menu;
}

LanguageMenu BuildLanguageMenu(const std::string& defaultLanguage, LanguageTexts& slots,
                               ICaptionTarget& target) {
    return BuildLanguageMenu(LanguageFolder(), defaultLanguage, slots, target);
}

bool SwitchLanguage(LanguageMenu& menu, std::size_t index, const std::string& configPath,
                    LanguageTexts& slots, ICaptionTarget& target, std::ostream& warnings) {
    if (index >= menu.entries.size()) {
        return false;
    }
    LanguageMenuEntry& entry = menu.entries[index];
    LanguageTexts loaded;
    try {
        loaded = LoadLanguageTexts(entry.file);
    } catch (const LanguageError& e) {
        warnings << "Pelldrin: cannot switch language: " << e.what() << '\n';
        return false;
    }
    // The name now in the file is the one the next start will look for.
    entry.name = loaded.Name;
    WriteConfigValue(configPath, "Config", "DefLang", loaded.Name);
    slots = std::move(loaded);
    menu.applied = index;
    ApplyCaptions(slots, target);
    return true;
}

bool SwitchLanguage(LanguageMenu& menu, std::size_t index, LanguageTexts& slots,
                    ICaptionTarget& target) {
    return SwitchLanguage(menu, index, ConfigPath(), slots, target);
}

} // namespace pelldrin

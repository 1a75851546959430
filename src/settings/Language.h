// Language files: the captions of the window and the texts of its message
// boxes, read from lang/*.xml, and the language menu as plain data.
#pragma once

#include "script/DirectiveFormat.h"

#include <cstddef>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelldrin {

// A language file that cannot be used; the message names the file and the cause.
class LanguageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kLanguageFolderName = "lang";
inline constexpr const char* kLanguageMask = "*.xml";
inline constexpr const char* kLanguageElement = "Lang";
inline constexpr int kCaptionCount = 20;         // "L001" to "L020", required in every file
inline constexpr int kRequiredMessageCount = 12; // "C001" to "C012"

// Every caption key the program knows, in the order they are applied: "L001" to "L020",
// which every language file must have, then the later ones, which fall back to English.
const std::vector<std::string>& CaptionKeys();
// The English caption built into the program for a caption key; nullopt for an unknown key.
std::optional<std::string> BuiltInCaption(const std::string& key);
// Every message key the program knows: "C001" to "C012", which every language
// file must have, then the later ones, which fall back to English.
const std::vector<std::string>& MessageKeys();
// The English text built into the program for a message key; nullopt for an
// unknown key.
std::optional<std::string> BuiltInMessage(const std::string& key);

// Whatever shows the captions (the window); keys are those of CaptionKeys().
struct ICaptionTarget {
    virtual ~ICaptionTarget() = default;
    virtual void SetCaption(const std::string& key, const std::string& text) = 0;
};

// The text slots of one language.
struct LanguageTexts {
    std::string Name;     // shown in the menu, saved as DefLang
    std::string QtLocale; // the optional QtLocale attribute: Qt's own texts, e.g. "zh_CN"
    std::map<std::string, std::string> Captions; // "L001" to "L020", and later keys when present
    std::map<std::string, std::string> Messages; // "C001" to "C012", and later keys when present
};

// The built-in English captions with no messages (MessageText supplies the built-in
// ones): what the window shows when no language file applies.
LanguageTexts BuiltInLanguageTexts();

// The attribute of the root's first child named element; nullopt when it has
// no such attribute. Throws LanguageError when the file cannot be read, is not
// XML, or has no such element.
std::optional<std::string> ReadXmlValue(const std::string& file, const std::string& element,
                                        const std::string& attribute);

// Reads all slots of a language file. Throws LanguageError naming the file and
// the cause when it is not a valid language file (not XML, no Lang element, a
// missing Name, "L001" to "L020" or "C001" to "C012" attribute, or an empty Name).
LanguageTexts LoadLanguageTexts(const std::string& file);

// Puts every caption onto the target, "L001" first; a later key the texts lack shows
// its built-in English caption, so an older language file never shows a bare key.
void ApplyCaptions(const LanguageTexts& texts, ICaptionTarget& target);

// Loads a language file into slots and applies its captions. Throws
// LanguageError, with slots and captions left as they were, when the file is
// not valid.
void ApplyLanguage(const std::string& file, LanguageTexts& slots, ICaptionTarget& target);

// The slot's text for a message key, or the built-in English text when the
// slot is empty (no language applied) or the file does not have the key.
std::string MessageText(const LanguageTexts& slots, const std::string& key);

// The slot's text for a caption key, or the built-in caption when the file does not have
// the key; for the captions the window reads when it opens a dialog.
std::string CaptionText(const LanguageTexts& slots, const std::string& key);

// MessageText with its directives filled in ("C005" takes the seconds as an
// integer). A translation whose directives do not fit the arguments falls
// back to the English text.
std::string FormatMessageText(const LanguageTexts& slots, const std::string& key,
                              std::span<const FormatArg> args);

// One language file in the menu.
struct LanguageMenuEntry {
    std::string name; // the file's Name, the item's caption
    std::string file; // the file's full path
};

// The language menu as the window shows it.
struct LanguageMenu {
    std::string caption; // the top item's caption: "C011" of the default language, or empty
    std::vector<LanguageMenuEntry> entries;
    std::optional<std::size_t> applied; // the entry whose texts are in the slots

    // No valid language file, so no menu at all.
    bool Empty() const { return entries.empty(); }
};

// The locale of Qt's own texts (Yes, No, the file chooser) for the language: its QtLocale,
// or for the shipped files that lack one the locale of their Name; empty for Qt's English.
std::string QtLocaleOf(const LanguageTexts& texts);

// The folder lang under the current folder.
std::string LanguageFolder();

// Lists the language files of langFolder by name, skips invalid ones with a
// warning, and applies the last one whose Name equals defaultLanguage (byte for
// byte). With no match the caption stays empty and nothing is applied.
LanguageMenu BuildLanguageMenu(const std::string& langFolder, const std::string& defaultLanguage,
                               LanguageTexts& slots, ICaptionTarget& target,
                               std::ostream& warnings = std::cerr);
// The same for the lang folder under the current folder.
LanguageMenu BuildLanguageMenu(const std::string& defaultLanguage, LanguageTexts& slots,
                               ICaptionTarget& target);

// The click on menu entry index: saves its Name as Config/DefLang in configPath
// (a failed save is not reported) and applies the file at once. When the file
// is no longer a valid language file it warns, saves nothing, leaves the texts
// as they were and returns false. The top caption changes at the next start.
bool SwitchLanguage(LanguageMenu& menu, std::size_t index, const std::string& configPath,
                    LanguageTexts& slots, ICaptionTarget& target,
                    std::ostream& warnings = std::cerr);
// The same with config.xml in the current folder.
bool SwitchLanguage(LanguageMenu& menu, std::size_t index, LanguageTexts& slots,
                    ICaptionTarget& target);

} // namespace pelldrin

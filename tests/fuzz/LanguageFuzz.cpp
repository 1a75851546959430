// A language file of any bytes: it loads with every slot or is refused with
// LanguageError, and the messages it gives always format.
#include "FuzzSupport.h"

#include "settings/Language.h"

using namespace pelldrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::ScratchFolder() + "/Language.xml";
    fuzz::WriteBytes(path, bytes);

    std::optional<std::string> name;
    try {
        name = ReadXmlValue(path, kLanguageElement, "Name");
    } catch (const LanguageError&) {
    }

    LanguageTexts texts;
    try {
        texts = LoadLanguageTexts(path);
    } catch (const LanguageError&) {
        return 0;
    }
    FUZZ_CHECK(name && *name == texts.Name);
    // The required captions always, the later ones only when the file has them.
    FUZZ_CHECK(texts.Captions.size() >= static_cast<std::size_t>(kCaptionCount) &&
               texts.Captions.size() <= CaptionKeys().size());
    FUZZ_CHECK(texts.Messages.size() >= static_cast<std::size_t>(kRequiredMessageCount));

    // A translation whose directives do not fit falls back to English; it never throws.
    const FormatArg seconds{std::int64_t{42}};
    const FormatArg missing{std::string("Path/Output")};
    FormatMessageText(texts, "C005", std::span(&seconds, 1));
    FormatMessageText(texts, "C013", std::span(&seconds, 1));
    FormatMessageText(texts, "C014", std::span(&missing, 1));
    for (const std::string& key : MessageKeys()) {
        const auto it = texts.Messages.find(key);
        FUZZ_CHECK(MessageText(texts, key) ==
                   (it != texts.Messages.end() ? it->second : *BuiltInMessage(key)));
    }
    return 0;
}

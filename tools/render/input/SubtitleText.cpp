#include "input/SubtitleText.h"

#include "base/FileSystem.h"
#include "core/RenderErrors.h"

#include <uchardet.h>

#include <memory>

namespace pelldrin::render {

namespace {

// The detector names the standard encoding; files are mostly written by Windows
// programs, in its superset (the extra characters would otherwise be lost or refused).
std::string WindowsSuperset(const std::string& name) {
    static const std::pair<const char*, const char*> kSupersets[] = {
        {"ISO-8859-1", "WINDOWS-1252"},
        {"ISO-8859-9", "WINDOWS-1254"},
        {"TIS-620", "WINDOWS-874"},
        {"ISO-8859-11", "WINDOWS-874"},
        {"GB2312", "GB18030"},
        {"GBK", "GB18030"},
        {"EUC-CN", "GB18030"},
        {"SHIFT_JIS", "CP932"},
        {"EUC-KR", "CP949"},
        {"UHC", "CP949"},
        {"BIG5", "CP950"},
    };
    for (const auto& [standard, superset] : kSupersets) {
        if (name == standard) {
            return superset;
        }
    }
    return name;
}

} // namespace

std::string GuessLegacyEncoding(std::string_view bytes) {
    const std::unique_ptr<uchardet, void (*)(uchardet_t)> detector(uchardet_new(),
                                                                   &uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), bytes.data(), bytes.size()) != 0) {
        return {};
    }
    uchardet_data_end(detector.get());
    const char* charset = uchardet_get_charset(detector.get());
    const std::string name = charset != nullptr ? charset : "";
    const std::string superset = WindowsSuperset(name);
    if (superset != name) {
        try {
            ConvertToUtf8(bytes, superset);
            return superset;
        } catch (const TextDecodeError&) {
            // A byte the superset leaves undefined: the standard encoding reads it.
        }
    }
    return name;
}

DecodedText DecodeSubtitleBytes(std::string_view bytes, std::string_view charset) {
    return DecodeText(bytes, charset, &GuessLegacyEncoding);
}

std::string DecodeSubtitleText(std::string_view bytes, std::string_view charset) {
    return DecodeSubtitleBytes(bytes, charset).text;
}

std::string ReadSubtitleText(const std::string& path, const std::string& charset,
                             const std::function<void(const std::string&)>& warn) {
    const std::string bytes = ReadWholeFile(path);
    DecodedText decoded;
    try {
        decoded = DecodeSubtitleBytes(bytes, charset);
    } catch (const TextDecodeError& e) {
        throw SubtitleError(path + ": " + e.what() +
                            (charset.empty() ? "; --charset NAME names the file's encoding"
                                             : " (--charset " + charset + ")"));
    }
    if (decoded.legacy && charset.empty() && warn) {
        warn(path + ": the text is not UTF-8 and was read as " + decoded.encoding +
             ", the encoding it looks like (--charset NAME reads it in another)");
    }
    return std::move(decoded.text);
}

} // namespace pelldrin::render

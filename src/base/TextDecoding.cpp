#include "base/TextDecoding.h"

#include "base/Utf8.h"

#include <cctype>
#include <vector>

#ifdef _WIN32
#include "base/SystemHeaders.h"
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace pelldrin {

namespace {

// "utf-16le", "UTF_16LE" and "UTF16LE" name the same encoding.
std::string NormalName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c != '-' && c != '_' && c != ' ' && c != '.') {
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

std::string OffsetText(std::size_t offset) {
    return "byte offset " + std::to_string(offset);
}

[[noreturn]] void ThrowUnreadable(std::size_t offset, std::string_view encoding) {
    throw TextDecodeError(OffsetText(offset) + " cannot be read as " + std::string(encoding),
                          offset);
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

const std::string_view kUtf8Bom("\xEF\xBB\xBF", 3);
const std::string_view kUtf16LeBom("\xFF\xFE", 2);
const std::string_view kUtf16BeBom("\xFE\xFF", 2);
const std::string_view kUtf32LeBom("\xFF\xFE\0\0", 4);
const std::string_view kUtf32BeBom("\0\0\xFE\xFF", 4);

struct Mark {
    std::string_view bytes;
    std::string_view encoding;
};
// UTF-32LE's mark starts with UTF-16LE's, so it is looked for first.
const Mark kMarks[] = {{kUtf8Bom, "UTF-8"},
                       {kUtf32LeBom, "UTF-32LE"},
                       {kUtf32BeBom, "UTF-32BE"},
                       {kUtf16LeBom, "UTF-16LE"},
                       {kUtf16BeBom, "UTF-16BE"}};

// UTF-32 saved without a byte-order mark: every unit of the head is a code point in the
// byte order, and most of its bytes are zero.
bool LooksLikeUtf32(std::string_view bytes, bool bigEndian) {
    const std::string_view head = bytes.substr(0, 4096);
    if (bytes.size() % 4 != 0 || head.empty()) {
        return false;
    }
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < head.size(); i += 4) {
        const auto byte = [&](std::size_t k) {
            return static_cast<unsigned char>(head[i + (bigEndian ? k : 3 - k)]);
        };
        if (byte(0) != 0 || byte(1) > 0x10) {
            return false;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            zeros += head[i + k] == '\0' ? 1 : 0;
        }
    }
    return zeros * 2 >= head.size();
}

// UTF-16 saved without a byte-order mark holds a zero in nearly every other byte (text
// itself never does): its side gives the byte order. Empty when the bytes do not show it.
std::string_view Utf16ByZeros(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 4096);
    std::size_t evenZeros = 0;
    std::size_t oddZeros = 0;
    for (std::size_t n = 0; n < head.size(); ++n) {
        if (head[n] == '\0') {
            ++(n % 2 == 0 ? evenZeros : oddZeros);
        }
    }
    if (bytes.size() % 2 != 0 || evenZeros + oddZeros == 0 ||
        evenZeros + oddZeros < head.size() / 16) {
        return {};
    }
    if (evenZeros == 0) {
        return "UTF-16LE";
    }
    if (oddZeros == 0) {
        return "UTF-16BE";
    }
    return {};
}

#ifdef _WIN32

// The Windows code page of an encoding name (iconv's and the detector's names), or 0.
unsigned CodePageOf(const std::string& name) {
    struct Named {
        const char* name;
        unsigned codePage;
    };
    static const Named kTable[] = {
        {"GB18030", 54936}, {"GBK", 936},           {"GB2312", 936},
        {"EUCCN", 936},     {"HZGB2312", 52936},    {"BIG5", 950},
        {"BIG5HKSCS", 950}, {"SHIFTJIS", 932},      {"SJIS", 932},
        {"EUCJP", 20932},   {"ISO2022JP", 50220},   {"EUCKR", 949},
        {"UHC", 949},       {"ISO2022KR", 50225},   {"KOI8R", 20866},
        {"KOI8U", 21866},   {"MACCYRILLIC", 10007}, {"MACCENTRALEUROPE", 10029},
        {"TIS620", 874},    {"ASCII", 20127},       {"USASCII", 20127},
        {"LATIN1", 28591},
    };
    for (const Named& n : kTable) {
        if (name == n.name) {
            return n.codePage;
        }
    }
    // ISO-8859-N, and the numbered forms CPnnn, WINDOWS-nnn and IBMnnn.
    const auto number = [&](std::string_view prefix) -> unsigned {
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            return 0;
        }
        unsigned value = 0;
        for (std::size_t i = prefix.size(); i < name.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])) || value > 99999) {
                return 0;
            }
            value = value * 10 + static_cast<unsigned>(name[i] - '0');
        }
        return value;
    };
    if (const unsigned part = number("ISO8859"); part >= 1 && part <= 16 && part != 12) {
        return part == 11 ? 874 : 28590 + part;
    }
    for (std::string_view prefix : {"CP", "WINDOWS", "IBM"}) {
        if (const unsigned value = number(prefix)) {
            return value;
        }
    }
    return 0;
}

// The UTF-16 of bytes in a code page, or false when some byte does not read.
bool WindowsDecode(std::string_view bytes, unsigned codePage, std::wstring& out) {
    if (bytes.empty()) {
        out.clear();
        return true;
    }
    // Stateful and some other code pages take no flags.
    const bool strict = !(codePage >= 50220 && codePage <= 50229) &&
                        !(codePage >= 57002 && codePage <= 57011) && codePage != 65000 &&
                        codePage != 42;
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (n <= 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(codePage, flags, bytes.data(), size, out.data(), n) == n;
}

std::string ConvertLegacy(std::string_view bytes, const std::string& name,
                          std::string_view shownName) {
    unsigned codePage = CodePageOf(name);
    if (codePage == 54936 && !IsValidCodePage(codePage)) {
        codePage = 936; // GBK, GB18030's two-byte part, where a system lacks GB18030
    }
    if (codePage == 0 || !IsValidCodePage(codePage)) {
        throw TextDecodeError("the encoding \"" + std::string(shownName) + "\" is not known", 0);
    }
    std::wstring wide;
    if (!WindowsDecode(bytes, codePage, wide)) {
        // Windows does not say where: the first line that does not read, then the
        // longest start of it that does, finds the byte.
        std::size_t lineStart = 0;
        while (lineStart < bytes.size()) {
            std::size_t end = bytes.find('\n', lineStart);
            end = end == std::string_view::npos ? bytes.size() : end + 1;
            if (!WindowsDecode(bytes.substr(lineStart, end - lineStart), codePage, wide)) {
                std::size_t good = 0;
                for (std::size_t k = 1; lineStart + k <= end; ++k) {
                    if (WindowsDecode(bytes.substr(lineStart, k), codePage, wide)) {
                        good = k;
                    }
                }
                ThrowUnreadable(lineStart + good, shownName);
            }
            lineStart = end;
        }
        ThrowUnreadable(0, shownName);
    }
    return Utf16ToUtf8(
        std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2), false);
}

#else

std::string ConvertLegacy(std::string_view bytes, [[maybe_unused]] const std::string& name,
                          std::string_view shownName) {
    struct Converter {
        iconv_t cd;
        ~Converter() { iconv_close(cd); }
    };
    const iconv_t cd = iconv_open("UTF-8", std::string(shownName).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw TextDecodeError("the encoding \"" + std::string(shownName) + "\" is not known", 0);
    }
    const Converter converter{cd};
    std::string out(bytes.size() * 2 + 16, '\0');
    std::vector<char> input(bytes.begin(), bytes.end()); // iconv takes a non-const pointer
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* outPos = out.data();
    std::size_t outLeft = out.size();
    const auto grow = [&] {
        const std::size_t used = static_cast<std::size_t>(outPos - out.data());
        out.resize(out.size() * 2);
        outPos = out.data() + used;
        outLeft = out.size() - used;
    };
    while (inLeft > 0) {
        if (iconv(converter.cd, &in, &inLeft, &outPos, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) {
                grow();
                continue;
            }
            ThrowUnreadable(bytes.size() - inLeft, shownName);
        }
    }
    // A stateful encoding may still owe its closing shift.
    while (iconv(converter.cd, nullptr, nullptr, &outPos, &outLeft) ==
           static_cast<std::size_t>(-1)) {
        if (errno != E2BIG) {
            break;
        }
        grow();
    }
    out.resize(static_cast<std::size_t>(outPos - out.data()));
    return out;
}

#endif

} // namespace

std::string ConvertToUtf8(std::string_view bytes, std::string_view encoding) {
    const std::string name = NormalName(encoding);
    if (name == "UTF8") {
        if (const std::size_t bad = InvalidUtf8Offset(bytes); bad != std::string_view::npos) {
            ThrowUnreadable(bad, "UTF-8");
        }
        return std::string(bytes);
    }
    if (name == "UTF16LE" || name == "UTF16BE") {
        return Utf16ToUtf8(bytes, name == "UTF16BE");
    }
    if (name == "UTF32LE" || name == "UTF32BE") {
        return Utf32ToUtf8(bytes, name == "UTF32BE");
    }
    if (name.empty()) {
        throw TextDecodeError("no encoding named", 0);
    }
    return ConvertLegacy(bytes, name, encoding);
}

DecodedText DecodeText(std::string_view bytes, std::string_view charset,
                       const EncodingGuess& guess) {
    DecodedText result;
    const auto read = [&](std::string_view encoding, std::size_t bom) {
        result.encoding = encoding;
        try {
            result.text = ConvertToUtf8(bytes.substr(bom), encoding);
        } catch (const TextDecodeError& e) {
            if (bom == 0) {
                throw;
            }
            ThrowUnreadable(e.Offset() + bom, encoding); // offsets count from the file's start
        }
        return result;
    };
    if (!charset.empty()) {
        // A byte-order mark of the named encoding is not text.
        const std::string name = NormalName(charset);
        const auto bomOf = [&](std::string_view mark) {
            return StartsWith(bytes, mark) ? mark.size() : 0;
        };
        result.legacy = name.rfind("UTF", 0) != 0 && name.rfind("UCS", 0) != 0;
        if (name == "UTF16" || name == "UCS2") {
            return bomOf(kUtf16BeBom) ? read("UTF-16BE", 2) : read("UTF-16LE", bomOf(kUtf16LeBom));
        }
        if (name == "UTF32" || name == "UCS4") {
            return bomOf(kUtf32BeBom) ? read("UTF-32BE", 4) : read("UTF-32LE", bomOf(kUtf32LeBom));
        }
        for (const Mark& mark : kMarks) {
            if (NormalName(mark.encoding) == name) {
                return read(charset, bomOf(mark.bytes));
            }
        }
        return read(charset, 0);
    }
    for (const Mark& mark : kMarks) {
        if (StartsWith(bytes, mark.bytes)) {
            return read(mark.encoding, mark.bytes.size());
        }
    }
    if (LooksLikeUtf32(bytes, false)) {
        return read("UTF-32LE", 0);
    }
    if (LooksLikeUtf32(bytes, true)) {
        return read("UTF-32BE", 0);
    }
    if (const std::string_view utf16 = Utf16ByZeros(bytes); !utf16.empty()) {
        return read(utf16, 0);
    }
    const std::size_t bad = InvalidUtf8Offset(bytes);
    if (bad == std::string_view::npos) {
        result.encoding = "UTF-8";
        result.text = std::string(bytes);
        return result;
    }
    if (!guess) {
        result.text = std::string(bytes);
        return result;
    }
    const std::string guessed = guess(bytes);
    const std::string name = NormalName(guessed);
    if (guessed.empty() || name == "UTF8" || name == "ASCII") {
        throw TextDecodeError(OffsetText(bad) + " is not UTF-8, and the text's encoding could "
                                                "not be recognised",
                              bad);
    }
    result.legacy = name.rfind("UTF", 0) != 0;
    return read(guessed, 0);
}

} // namespace pelldrin

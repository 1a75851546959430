// The directive expander over any template and arguments: it expands or throws
// FormatError, and what it gives matches the parsed directives.
#include "FuzzSupport.h"

#include "script/DirectiveFormat.h"

#include <array>
#include <cstring>

using namespace pelldrin;

namespace {

std::size_t Characters(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    // Bits 0-3: which of four arguments are integers; bits 4-6: how many there are.
    const std::uint8_t kinds = in.Byte();
    const std::size_t argCount = (kinds >> 4) & 7;
    std::vector<FormatArg> args;
    for (std::size_t i = 0; i < argCount && i < 4; ++i) {
        const std::string_view piece = in.Until('\x01');
        if ((kinds >> i) & 1) {
            std::int64_t value = 0;
            std::memcpy(&value, piece.data(), std::min(piece.size(), sizeof value));
            args.emplace_back(value);
        } else {
            args.emplace_back(std::string(piece));
        }
    }
    const std::string_view templ = in.Rest();

    std::vector<TemplatePiece> pieces;
    try {
        pieces = ParseDirectives(templ, args.size());
    } catch (const FormatError&) {
        try {
            ExpandDirectives(templ, args);
        } catch (const FormatError&) {
            return 0; // both refuse the template
        }
        FUZZ_CHECK(!"ExpandDirectives took a template that ParseDirectives refused");
    }

    std::string expected;
    bool fits = true;
    for (const TemplatePiece& piece : pieces) {
        if (!piece.directive) {
            FUZZ_CHECK(!piece.literal.empty());
            expected += piece.literal;
            continue;
        }
        const Directive& d = *piece.directive;
        FUZZ_CHECK(d.argIndex < args.size());
        FUZZ_CHECK(d.width <= kMaxDirectiveWidth);
        FUZZ_CHECK(d.type == 's' || d.type == 'd');
        try {
            const std::string text = FormatDirective(d, args[d.argIndex]);
            FUZZ_CHECK(Characters(text) >= d.width);
            if (d.type == 's' && d.precision) {
                FUZZ_CHECK(Characters(text) <= std::max(d.width, *d.precision));
            }
            expected += text;
        } catch (const FormatError&) {
            fits = false;
        }
    }
    try {
        const std::string out = ExpandDirectives(templ, args);
        FUZZ_CHECK(fits);
        FUZZ_CHECK(out == expected);
        if (templ.find('%') == std::string_view::npos) {
            FUZZ_CHECK(out == templ);
        }
    } catch (const FormatError&) {
        FUZZ_CHECK(!fits);
    }
    return 0;
}

#include "script/DirectiveFormat.h"

#include "base/Utf8.h"

namespace pelldrin {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

[[noreturn]] void Fail(std::string_view templ, std::size_t pos, const std::string& cause) {
    throw FormatError("The template \"" + std::string(templ) + "\" " + cause + " at position " +
                      std::to_string(pos + 1));
}

// Reads a run of digits at pos; false when there is none. Values above the
// limit fail instead of overflowing.
bool ReadNumber(std::string_view templ, std::size_t& pos, std::size_t start, std::size_t& value) {
    if (pos >= templ.size() || !IsDigit(templ[pos])) {
        return false;
    }
    value = 0;
    while (pos < templ.size() && IsDigit(templ[pos])) {
        value = value * 10 + static_cast<std::size_t>(templ[pos] - '0');
        if (value > kMaxDirectiveWidth) {
            Fail(templ, start, "has a number that is too large");
        }
        ++pos;
    }
    return true;
}

std::string Pad(std::string text, std::size_t width, bool leftAlign) {
    const std::size_t length = CountUtf8Characters(text);
    if (length >= width) {
        return text;
    }
    const std::string fill(width - length, ' ');
    return leftAlign ? text + fill : fill + text;
}

} // namespace

std::vector<TemplatePiece> ParseDirectives(std::string_view templ, std::size_t argCount) {
    std::vector<TemplatePiece> pieces;
    std::string literal;
    std::size_t nextArg = 0;
    std::size_t pos = 0;
    while (pos < templ.size()) {
        const auto percent = templ.find('%', pos);
        literal.append(templ.substr(pos, percent - pos));
        if (percent == std::string_view::npos) {
            break;
        }
        pos = percent + 1;
        if (pos < templ.size() && templ[pos] == '%') {
            literal += '%';
            ++pos;
            continue;
        }

        Directive d;
        std::size_t number = 0;
        const bool hasNumber = ReadNumber(templ, pos, percent, number);
        bool numberIsWidth = hasNumber;
        d.argIndex = nextArg;
        if (pos < templ.size() && templ[pos] == ':') {
            if (!hasNumber) {
                Fail(templ, percent, "has a directive without an argument number before \":\"");
            }
            d.argIndex = number;
            numberIsWidth = false;
            ++pos;
        }
        if (numberIsWidth) {
            d.width = number;
        } else {
            if (pos < templ.size() && templ[pos] == '-') {
                d.leftAlign = true;
                ++pos;
            }
            ReadNumber(templ, pos, percent, d.width);
        }
        if (pos < templ.size() && templ[pos] == '.') {
            ++pos;
            std::size_t precision = 0;
            if (!ReadNumber(templ, pos, percent, precision)) {
                Fail(templ, percent, "has a directive with \".\" but no length");
            }
            d.precision = precision;
        }
        if (pos >= templ.size()) {
            Fail(templ, percent, "ends inside a directive");
        }
        const char type = templ[pos];
        if (type == 's' || type == 'S') {
            d.type = 's';
        } else if (type == 'd' || type == 'D') {
            d.type = 'd';
        } else {
            Fail(templ, percent, "has an unknown directive");
        }
        ++pos;
        if (d.argIndex >= argCount) {
            Fail(templ, percent,
                 "asks for argument " + std::to_string(d.argIndex) + " of only " +
                     std::to_string(argCount));
        }
        nextArg = d.argIndex + 1;

        if (!literal.empty()) {
            pieces.push_back({std::move(literal), std::nullopt});
            literal.clear();
        }
        pieces.push_back({std::string(), d});
    }
    if (!literal.empty()) {
        pieces.push_back({std::move(literal), std::nullopt});
    }
    return pieces;
}

std::string FormatDirective(const Directive& directive, const FormatArg& arg) {
    std::string text;
    if (directive.type == 's') {
        const auto* value = std::get_if<std::string>(&arg);
        if (value == nullptr) {
            throw FormatError("Directive %s was given an integer for argument " +
                              std::to_string(directive.argIndex));
        }
        text = directive.precision ? std::string(FirstUtf8Characters(*value, *directive.precision))
                                   : *value;
    } else {
        const auto* value = std::get_if<std::int64_t>(&arg);
        if (value == nullptr) {
            throw FormatError("Directive %d was given a text for argument " +
                              std::to_string(directive.argIndex));
        }
        // The magnitude as unsigned, so the most negative value is safe too.
        const bool negative = *value < 0;
        const std::uint64_t magnitude =
            negative ? 0 - static_cast<std::uint64_t>(*value) : static_cast<std::uint64_t>(*value);
        std::string digits = std::to_string(magnitude);
        if (directive.precision && digits.size() < *directive.precision) {
            digits.insert(0, *directive.precision - digits.size(), '0');
        }
        text = negative ? "-" + digits : digits;
    }
    return Pad(std::move(text), directive.width, directive.leftAlign);
}

std::string ExpandDirectives(std::string_view templ, std::span<const FormatArg> args) {
    std::string out;
    for (const TemplatePiece& piece : ParseDirectives(templ, args.size())) {
        if (piece.directive) {
            out += FormatDirective(*piece.directive, args[piece.directive->argIndex]);
        } else {
            out += piece.literal;
        }
    }
    return out;
}

} // namespace pelldrin

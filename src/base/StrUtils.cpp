#include "base/StrUtils.h"

#include "base/IdException.h"

#include <limits>

namespace tavrin {
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses into an unsigned magnitude with a sign; the caller range-checks.
std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size()) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    uint64_t value = 0;
    const uint64_t limit =
        negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
    for (; i < text.size(); ++i) {
        int digit = base == 16 ? HexValue(text[i])
                               : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (negative)
        return value == static_cast<uint64_t>(-(min + 1)) + 1 ? min : -static_cast<int64_t>(value);
    return static_cast<int64_t>(value);
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

} // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
    auto v = ParseInteger(text, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
    if (!v)
        return std::nullopt;
    return static_cast<int32_t>(*v);
}

std::optional<int64_t> TryStrToInt64(std::string_view text) {
    return ParseInteger(text, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max());
}

int32_t StrToInt(std::string_view text) {
    auto v = TryStrToInt(text);
    if (!v)
        RaiseNotInteger(text);
    return *v;
}

int64_t StrToInt64(std::string_view text) {
    auto v = TryStrToInt64(text);
    if (!v)
        RaiseNotInteger(text);
    return *v;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
    return TryStrToInt(text).value_or(fallback);
}
int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
    return TryStrToInt64(text).value_or(fallback);
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Trim(std::string_view text) {
    return TrimRight(TrimLeft(text));
}

std::string TrimLeft(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text) {
    size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1]))
        --n;
    return std::string(text.substr(0, n));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}
bool SameTextAscii(std::string_view a, std::string_view b) {
    return UpperCase(a) == UpperCase(b);
}

} // namespace tavrin

#pragma once
// Text and number conversions shared by every layer. Texts are bytes (std::string); only
// ASCII letters change case.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Signed integer text: optional leading blanks, optional sign, decimal digits; or "$" / "0x"
// / "0X" followed by hexadecimal digits. Nothing may follow the digits. nullopt on overflow.
std::optional<int32_t> TryStrToInt(std::string_view text);
std::optional<int64_t> TryStrToInt64(std::string_view text);

// As TryStrToInt, raising EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);

// The number, or `fallback` when the text does not convert.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
int64_t StrToInt64Def(std::string_view text, int64_t fallback);

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Remove characters with codes up to 32 at both ends / the start / the end.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);
bool SameTextAscii(std::string_view a, std::string_view b);

} // namespace tavrin

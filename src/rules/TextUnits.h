#pragma once
// File names as characters: UTF-8 decoded one code point at a time, and letter case folded
// without a locale, so a pattern matches the same way in the window and in the service.
#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrin::rules {

// The code points of `text`. A byte that does not start a valid UTF-8 sequence stands for
// itself as 0xDC00 + byte, which no valid character decodes to, so names in other encodings
// still match byte for byte.
std::vector<char32_t> DecodeUtf8(std::string_view text);

// Lower and upper case of a letter: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
// Everything else is its own case.
char32_t ToLowerCase(char32_t c);
char32_t ToUpperCase(char32_t c);

} // namespace tavrin::rules

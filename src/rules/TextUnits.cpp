#include "rules/TextUnits.h"

namespace tavrin::rules {
namespace {

char32_t Invalid(unsigned char byte) {
    return 0xDC00 + byte;
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts and the bits it carries; 0 for no lead byte.
int SequenceLength(unsigned char lead, char32_t& bits) {
    if (lead < 0x80)
        return bits = lead, 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return bits = lead & 0x1F, 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return bits = lead & 0x0F, 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return bits = lead & 0x07, 4;
    return 0;
}

// The smallest code point each length may carry: longer forms are overlong and invalid.
constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};

// Latin Extended-A pairs letters as (upper, lower) on even/odd code points, except in the
// stretches 0x139-0x148 and 0x179-0x17E where the upper case sits on the odd one.
bool UpperOddInExtendedA(char32_t c) {
    return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
}

bool PairedInExtendedA(char32_t c) {
    return c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149;
}

} // namespace

std::vector<char32_t> DecodeUtf8(std::string_view text) {
    std::vector<char32_t> units;
    units.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        char32_t value = 0;
        const int length = SequenceLength(lead, value);
        bool valid = length > 0 && at + length <= text.size();
        for (int i = 1; valid && i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            valid = IsContinuation(next);
            value = (value << 6) | (next & 0x3F);
        }
        valid = valid && value >= kSmallest[length] && value <= 0x10FFFF &&
                !(value >= 0xD800 && value <= 0xDFFF);
        if (!valid) {
            units.push_back(Invalid(lead));
            ++at;
            continue;
        }
        units.push_back(value);
        at += length;
    }
    return units;
}

char32_t ToLowerCase(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    if (c == 0x178) // Y with diaeresis: its lower case is in Latin-1
        return 0xFF;
    if (PairedInExtendedA(c))
        return UpperOddInExtendedA(c) ? (c % 2 == 1 ? c + 1 : c) : (c % 2 == 0 ? c + 1 : c);
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) // Greek capitals
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) // Cyrillic capitals
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

char32_t ToUpperCase(char32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (PairedInExtendedA(c))
        return UpperOddInExtendedA(c) ? (c % 2 == 0 ? c - 1 : c) : (c % 2 == 1 ? c - 1 : c);
    if (c == 0x3C2) // final sigma
        return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3CB)
        return c - 0x20;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    return c;
}

} // namespace tavrin::rules

#pragma once
// The activity log's callback and its five colours. A colour is 0x00BBGGRR, or 0xFF0000nn
// for the platform's system colour nn (the window maps those to its palette).
#include <cstdint>
#include <functional>
#include <string>

using TColor = uint32_t;

constexpr TColor clMaroon = 0x00000080;
constexpr TColor clHotLight = 0xff00001a;
constexpr TColor clGreen = 0x00008000;
constexpr TColor cl3DDkShadow = 0xff000015;
constexpr TColor clRed = 0x000000ff;

// sender, text, colour. The sink ignores the sender.
using TLogEvent = std::function<void(const void* sender, const std::string& text, TColor colour)>;

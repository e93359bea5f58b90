#include "import/ImportTexts.h"

namespace tavrin::importtext {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string OneLine(std::string text) {
    auto blank = [](char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(text[start]))
        ++start;
    return text.substr(start);
}

std::string Printable(const std::string& name) {
    std::string shown = name;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

std::string HostPort(const std::string& host, const std::string& port) {
    return (host.empty() ? "(no host)" : host) + ":" + port;
}

} // namespace tavrin::importtext

#include "jobs/HooksCommandLine.h"

#include <string_view>

namespace tavrin::jobs {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// What a backslash escapes between double quotes; before anything else it stays.
constexpr std::string_view kEscapedInDoubleQuotes = "\\\"$`\n";

} // namespace

THookWords SplitHookCommand(const std::string& line) {
    THookWords result;
    std::string word;
    // A word exists once anything of it was seen: '' is an empty argument.
    bool inWord = false;
    size_t i = 0;
    auto fail = [&result](const char* why) {
        result.words.clear();
        result.problem = why;
        return result;
    };
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inWord)
                result.words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\n') {
            i += 2; // an escaped line break joins the lines
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const size_t end = line.find('\'', i + 1);
            if (end == std::string::npos)
                return fail("unterminated quote");
            word.append(line, i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    kEscapedInDoubleQuotes.find(line[i + 1]) != std::string_view::npos) {
                    if (line[i + 1] != '\n') // an escaped line break joins the lines
                        word += line[i + 1];
                    i += 2;
                    continue;
                }
                word += line[i++];
            }
            if (i >= line.size())
                return fail("unterminated quote");
            ++i;
        } else if (c == '\\') {
            if (i + 1 >= line.size())
                return fail("backslash at the end");
            word += line[i + 1];
            i += 2;
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord)
        result.words.push_back(std::move(word));
    return result;
}

} // namespace tavrin::jobs

#include "ftp/listing/IdListingText.h"

#include "base/StrUtils.h"

namespace tavrin::listing {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsNumeric(std::string_view text) {
    return TryStrToInt64(text).has_value();
}
int32_t IntDef(std::string_view text, int32_t fallback) {
    return TryStrToInt(text).value_or(fallback);
}
int64_t Int64Def(std::string_view text, int64_t fallback) {
    return TryStrToInt64(text).value_or(fallback);
}

int MonthFromName(std::string_view text) {
    static constexpr std::string_view kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (text.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i)
        if (EqualsNoCase(text, kMonths[i]))
            return i + 1;
    return 0;
}

Columns::Columns(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i >= text.size())
            break;
        size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (total_ < kMax)
            columns_[total_] = text.substr(start, i - start);
        ++total_;
    }
}

namespace {
bool OneOf(char c, std::string_view set) {
    return set.find(UpperAscii(c)) != std::string_view::npos;
}
} // namespace

bool IsPermissionColumn(std::string_view text) {
    if (text.size() < 10)
        return false;
    return OneOf(text[0], "LD-BCPS") && OneOf(text[1], "TSRWX-") && OneOf(text[2], "TSRWX-A") &&
           OneOf(text[3], "TSRWX-") && OneOf(text[4], "TSRWX-H") && OneOf(text[5], "TSRWX-") &&
           OneOf(text[6], "TSRWX-Y") && OneOf(text[7], "TSRWX-A") && OneOf(text[8], "TSRWX-") &&
           OneOf(text[9], "TSRWX-");
}

bool IsTotalLine(std::string_view line) {
    return StartsWithNoCase(line, "TOTAL") && line.back() != ':';
}

bool IsDirectoryBanner(std::string_view line) {
    return !line.empty() && line.back() == ':' && !IsPermissionColumn(line);
}

void LineRest::SkipSpaces() {
    while (pos_ < text_.size() && text_[pos_] == ' ')
        ++pos_;
}

std::string_view LineRest::TakeColumn() {
    std::string_view column = TakeColumnKeepSpaces();
    SkipSpaces();
    return column;
}

std::string_view LineRest::TakeColumnKeepSpaces() {
    size_t space = text_.find(' ', pos_);
    if (space == std::string::npos)
        space = text_.size();
    std::string_view column = std::string_view(text_).substr(pos_, space - pos_);
    pos_ = space < text_.size() ? space + 1 : space;
    return column;
}

std::string_view LineRest::PeekColumn() const {
    size_t start = text_.find_first_not_of(' ', pos_);
    if (start == std::string::npos)
        return {};
    size_t end = text_.find(' ', start);
    if (end == std::string::npos)
        end = text_.size();
    return std::string_view(text_).substr(start, end - start);
}

void LineRest::PutBack(std::string_view text) {
    std::string rebuilt;
    rebuilt.reserve(text.size() + 1 + text_.size() - pos_);
    rebuilt.append(text).append(1, ' ').append(text_, pos_);
    text_ = std::move(rebuilt);
    pos_ = 0;
}

void LineRest::RewriteFirstColumn(std::string_view from, char to) {
    size_t end = text_.find(' ', pos_);
    if (end == std::string::npos)
        end = text_.size();
    for (size_t i = pos_; i < end; ++i)
        if (from.find(text_[i]) != std::string_view::npos)
            text_[i] = to;
}

void LineRest::Trim() {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (pos_ < text_.size() && blank(text_[pos_]))
        ++pos_;
    size_t end = text_.size();
    while (end > pos_ && blank(text_[end - 1]))
        --end;
    text_.resize(end);
}

void LineRest::Drop(size_t count) {
    pos_ = count < text_.size() - pos_ ? pos_ + count : text_.size();
}

} // namespace tavrin::listing

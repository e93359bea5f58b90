#pragma once
// Column and line tests shared by the listing parsers. Everything works on views of the line
// and never copies more than it returns, so each test is linear in the line's length.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::listing {

inline char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The whole text converts to a signed 64-bit integer.
bool IsNumeric(std::string_view text);
int32_t IntDef(std::string_view text, int32_t fallback);
int64_t Int64Def(std::string_view text, int64_t fallback);

// "JAN".."DEC" (any case, exactly three letters) -> 1..12; anything else 0.
int MonthFromName(std::string_view text);

// The first columns of a text (runs without spaces). Only the first kMax are kept; Total()
// counts them all.
class Columns {
public:
    static constexpr size_t kMax = 12;
    explicit Columns(std::string_view text);
    size_t Total() const { return total_; }
    // Column `index` (0-based), or empty when there is none or it lies beyond kMax.
    std::string_view operator[](size_t index) const {
        return index < kMax && index < total_ ? columns_[index] : std::string_view();
    }

private:
    std::array<std::string_view, kMax> columns_{};
    size_t total_ = 0;
};

// A permission column such as "drwxr-xr-x" (first ten characters tested, any case).
bool IsPermissionColumn(std::string_view text);
// "total 12", but not a section named "total:".
bool IsTotalLine(std::string_view line);
// A section line of a recursive listing, "./sub:".
bool IsDirectoryBanner(std::string_view line);

// The unparsed rest of a listing line, consumed column by column from the front. The text is
// owned so that a column can be rewritten or put back; consuming only moves an index.
class LineRest {
public:
    explicit LineRest(std::string_view text) : text_(text) {}

    std::string_view View() const { return std::string_view(text_).substr(pos_); }
    bool Empty() const { return pos_ >= text_.size(); }
    char Front() const { return Empty() ? '\0' : text_[pos_]; }

    void SkipSpaces();
    // Removes the text up to the next space and that space, then the spaces after it.
    std::string_view TakeColumn();
    // The same, but removes only the one space after the column: what follows may be a
    // name that begins with spaces.
    std::string_view TakeColumnKeepSpaces();
    // The next column without removing it (leading spaces skipped for the look only).
    std::string_view PeekColumn() const;
    // Puts `text` and one space back in front of the rest.
    void PutBack(std::string_view text);
    // Replaces every character of `from` in the next column by `to`.
    void RewriteFirstColumn(std::string_view from, char to);
    // Removes spaces (and control characters) at both ends.
    void Trim();
    // Drops the first `count` characters.
    void Drop(size_t count);

private:
    std::string text_;
    size_t pos_ = 0;
};

} // namespace tavrin::listing

#pragma once
// One name pattern: `*` any run of characters but "/", `**` any run including "/" (and
// "**/" also none at all, so "**/a.txt" takes a top-level a.txt), `?` one character but "/",
// `[a-z]` one of a set (`[!...]` or `[^...]` one not in it; a "]" first in the set is one of
// it), `{a,b}` one of the alternatives (they may nest), and `\` takes the next character as
// it stands.
//
// Matching walks the name once, keeping the set of places the pattern could be at, so its
// work grows with name length times pattern length and never explodes on patterns like
// "*a*a*a*a*b".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::rules {

class TNamePattern {
public:
    // Empty `error` and a usable pattern; otherwise what is wrong with the text (for example
    // `has an unbalanced "["`) and a pattern that matches nothing.
    static TNamePattern Parse(std::string_view text, bool ignoreCase, std::string& error);

    bool Matches(std::string_view name) const;
    const std::string& Text() const { return text_; }

private:
    friend class TPatternCompiler;
    enum class TKind : uint8_t { Char, AnyButSlash, Any, Set, Fork, Match };
    struct TNode {
        TKind kind = TKind::Match;
        char32_t ch = 0;             // Char
        uint32_t set = 0;            // Set: index into sets_
        uint32_t next = 0;           // the consuming kinds
        std::vector<uint32_t> forks; // Fork: every way on, without consuming
    };
    struct TRange {
        char32_t low, high;
    };
    struct TSet {
        bool negated = false;
        std::vector<TRange> ranges;
    };

    bool Accepts(const TNode& node, char32_t c) const;
    bool InSet(const TSet& set, char32_t c) const;
    bool SameLetter(char32_t a, char32_t b) const;

    std::string text_;
    bool ignoreCase_ = false;
    std::vector<TNode> nodes_;
    std::vector<TSet> sets_;
    uint32_t start_ = 0;
};

} // namespace tavrin::rules

#include "rules/NamePattern.h"

#include "rules/TextUnits.h"

#include <algorithm>
#include <limits>

namespace tavrin::rules {

// Reads a pattern's characters into a small tree of items and turns that into the nodes the
// matcher walks.
class TPatternCompiler {
public:
    explicit TPatternCompiler(TNamePattern& pattern, std::string_view text)
        : pattern_(pattern), p_(DecodeUtf8(text)) {}

    // Raises TBad on a malformed pattern.
    void Compile() {
        TSeq root = ParseSeq(0);
        pattern_.nodes_.assign(1, TNamePattern::TNode{}); // node 0: the match
        pattern_.start_ = CompileSeq(root, 0);
    }

    struct TBad {
        std::string what;
    };

private:
    using TKind = TNamePattern::TKind;
    struct TItem;
    using TSeq = std::vector<TItem>;
    struct TItem {
        enum class TWhat { Char, One, Star, DeepStar, DeepFolders, Set, Alternatives };
        TItem(TWhat kind) : what(kind) {}
        TWhat what;
        char32_t ch = 0;
        TNamePattern::TSet set;
        std::vector<TSeq> alternatives;
    };

    // Deeper nesting than this is no real pattern, and would only eat the stack.
    static constexpr int kMaxBraceDepth = 32;

    bool AtEnd() const { return at_ >= p_.size(); }

    // Escaped characters are ones of the name; this reads one and steps past it.
    char32_t TakeLiteral() {
        if (p_[at_] == '\\') {
            ++at_;
            if (AtEnd())
                throw TBad{"ends in a lone \"\\\""};
        }
        return p_[at_++];
    }

    // "**" directly after the start, "/", "{" or "," and directly before "/" stands for any
    // number of whole folders, none included.
    bool StartsFolderRun(size_t starsAt) const {
        const bool before = starsAt == 0 || p_[starsAt - 1] == '/' || p_[starsAt - 1] == '{' ||
                            p_[starsAt - 1] == ',';
        return before && !AtEnd() && p_[at_] == '/';
    }

    TSeq ParseSeq(int depth) {
        TSeq seq;
        while (!AtEnd()) {
            const char32_t c = p_[at_];
            if (depth > 0 && (c == ',' || c == '}'))
                break;
            if (c == '}')
                throw TBad{"has an unbalanced \"}\""};
            if (c == '*') {
                const size_t first = at_;
                while (!AtEnd() && p_[at_] == '*')
                    ++at_;
                if (at_ - first == 1) {
                    seq.push_back({TItem::TWhat::Star});
                } else if (StartsFolderRun(first)) {
                    ++at_; // the "/" belongs to the folder run
                    seq.push_back({TItem::TWhat::DeepFolders});
                } else {
                    seq.push_back({TItem::TWhat::DeepStar});
                }
            } else if (c == '?') {
                ++at_;
                seq.push_back({TItem::TWhat::One});
            } else if (c == '[') {
                seq.push_back(ParseSet());
            } else if (c == '{') {
                seq.push_back(ParseAlternatives(depth + 1));
            } else {
                TItem item{TItem::TWhat::Char};
                item.ch = TakeLiteral();
                seq.push_back(std::move(item));
            }
        }
        return seq;
    }

    TItem ParseSet() {
        TItem item{TItem::TWhat::Set};
        ++at_; // "["
        if (!AtEnd() && (p_[at_] == '!' || p_[at_] == '^')) {
            item.set.negated = true;
            ++at_;
        }
        for (bool first = true;; first = false) {
            if (AtEnd())
                throw TBad{"has an unbalanced \"[\""};
            if (p_[at_] == ']' && !first) {
                ++at_;
                return item;
            }
            const char32_t low = TakeLiteral();
            char32_t high = low;
            if (at_ + 1 < p_.size() && p_[at_] == '-' && p_[at_ + 1] != ']') {
                ++at_;
                high = TakeLiteral();
                if (high < low)
                    throw TBad{"has a range that runs backwards"};
            }
            item.set.ranges.push_back({low, high});
        }
    }

    TItem ParseAlternatives(int depth) {
        if (depth > kMaxBraceDepth)
            throw TBad{"nests \"{\" too deeply"};
        TItem item{TItem::TWhat::Alternatives};
        ++at_; // "{"
        for (;;) {
            item.alternatives.push_back(ParseSeq(depth));
            if (AtEnd())
                throw TBad{"has an unbalanced \"{\""};
            if (p_[at_++] == '}')
                return item;
        }
    }

    uint32_t Add(TNamePattern::TNode node) {
        if (pattern_.nodes_.size() >= std::numeric_limits<uint32_t>::max())
            throw TBad{"is too long"};
        pattern_.nodes_.push_back(std::move(node));
        return static_cast<uint32_t>(pattern_.nodes_.size() - 1);
    }

    static TNamePattern::TNode Node(TKind kind, uint32_t next = 0) {
        TNamePattern::TNode node;
        node.kind = kind;
        node.next = next;
        return node;
    }

    uint32_t Consuming(TKind kind, uint32_t next) { return Add(Node(kind, next)); }

    // Zero or more characters of `kind`, then `next`.
    uint32_t Loop(TKind kind, uint32_t next) {
        const uint32_t fork = Add(Node(TKind::Fork));
        const uint32_t step = Consuming(kind, fork);
        pattern_.nodes_[fork].forks = {step, next};
        return fork;
    }

    // Built from the end backwards, so every node knows its successor when it is made and
    // the alternatives of a brace share one tail instead of copying it.
    uint32_t CompileSeq(const TSeq& seq, uint32_t next) {
        for (auto item = seq.rbegin(); item != seq.rend(); ++item)
            next = CompileItem(*item, next);
        return next;
    }

    uint32_t CompileItem(const TItem& item, uint32_t next) {
        switch (item.what) {
        case TItem::TWhat::Char: {
            const uint32_t node = Consuming(TKind::Char, next);
            pattern_.nodes_[node].ch = item.ch;
            return node;
        }
        case TItem::TWhat::One:
            return Consuming(TKind::AnyButSlash, next);
        case TItem::TWhat::Star:
            return Loop(TKind::AnyButSlash, next);
        case TItem::TWhat::DeepStar:
            return Loop(TKind::Any, next);
        case TItem::TWhat::DeepFolders: {
            const uint32_t slash = Consuming(TKind::Char, next);
            pattern_.nodes_[slash].ch = '/';
            const uint32_t folders = Loop(TKind::Any, slash);
            const uint32_t fork = Add(Node(TKind::Fork));
            pattern_.nodes_[fork].forks = {next, folders};
            return fork;
        }
        case TItem::TWhat::Set: {
            const uint32_t node = Consuming(TKind::Set, next);
            pattern_.nodes_[node].set = static_cast<uint32_t>(pattern_.sets_.size());
            pattern_.sets_.push_back(item.set);
            return node;
        }
        case TItem::TWhat::Alternatives: {
            std::vector<uint32_t> ways;
            for (const TSeq& alternative : item.alternatives)
                ways.push_back(CompileSeq(alternative, next));
            const uint32_t fork = Add(Node(TKind::Fork));
            pattern_.nodes_[fork].forks = std::move(ways);
            return fork;
        }
        }
        return next;
    }

    TNamePattern& pattern_;
    std::vector<char32_t> p_;
    size_t at_ = 0;
};

TNamePattern TNamePattern::Parse(std::string_view text, bool ignoreCase, std::string& error) {
    TNamePattern pattern;
    pattern.text_ = std::string(text);
    pattern.ignoreCase_ = ignoreCase;
    error.clear();
    try {
        TPatternCompiler(pattern, text).Compile();
    } catch (const TPatternCompiler::TBad& bad) {
        error = bad.what;
        pattern.nodes_.clear();
        pattern.sets_.clear();
    }
    return pattern;
}

bool TNamePattern::SameLetter(char32_t a, char32_t b) const {
    if (a == b)
        return true;
    // Upper case too: final and middle sigma share their capital, not their lower case.
    return ignoreCase_ && (ToLowerCase(a) == ToLowerCase(b) || ToUpperCase(a) == ToUpperCase(b));
}

bool TNamePattern::InSet(const TSet& set, char32_t c) const {
    auto within = [&set](char32_t x) {
        return std::any_of(set.ranges.begin(), set.ranges.end(),
                           [x](const TRange& r) { return x >= r.low && x <= r.high; });
    };
    const bool hit =
        within(c) || (ignoreCase_ && (within(ToLowerCase(c)) || within(ToUpperCase(c))));
    return hit != set.negated;
}

bool TNamePattern::Accepts(const TNode& node, char32_t c) const {
    switch (node.kind) {
    case TKind::Char:
        return SameLetter(node.ch, c);
    case TKind::AnyButSlash:
        return c != '/';
    case TKind::Any:
        return true;
    case TKind::Set:
        return c != '/' && InSet(sets_[node.set], c);
    case TKind::Fork:
    case TKind::Match:
        return false;
    }
    return false;
}

bool TNamePattern::Matches(std::string_view name) const {
    if (nodes_.empty())
        return false;
    // The places the pattern may be at after each character; `seenAt` keeps a place from
    // being added twice in one step.
    std::vector<uint32_t> current, following, pending;
    std::vector<size_t> seenAt(nodes_.size(), std::numeric_limits<size_t>::max());
    auto reach = [&](std::vector<uint32_t>& places, uint32_t from, size_t step) {
        pending.assign(1, from);
        while (!pending.empty()) {
            const uint32_t at = pending.back();
            pending.pop_back();
            if (seenAt[at] == step)
                continue;
            seenAt[at] = step;
            if (nodes_[at].kind == TKind::Fork)
                pending.insert(pending.end(), nodes_[at].forks.rbegin(), nodes_[at].forks.rend());
            else
                places.push_back(at);
        }
    };
    reach(current, start_, 0);
    const std::vector<char32_t> units = DecodeUtf8(name);
    for (size_t i = 0; i < units.size() && !current.empty(); ++i) {
        following.clear();
        for (const uint32_t at : current)
            if (Accepts(nodes_[at], units[i]))
                reach(following, nodes_[at].next, i + 1);
        current.swap(following);
    }
    return std::any_of(current.begin(), current.end(),
                       [this](uint32_t at) { return nodes_[at].kind == TKind::Match; });
}

} // namespace tavrin::rules

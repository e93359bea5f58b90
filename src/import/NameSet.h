#pragma once
// The register's "downloaded before?" set of names, compared byte for byte: open addressing
// over one block of name bytes, so a lookup touches one slot and one name instead of a chain
// of separately allocated strings. A poll over a folder of 100,000 registered names does
// 100,000 lookups.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TNameSet {
public:
    bool Contains(std::string_view key) const;
    void Insert(std::string_view key); // a name already there is not stored twice
    void Clear();
    size_t Size() const { return count_; }

private:
    struct TSlot {
        uint64_t hash = 0;
        uint32_t offset = 0;
        uint32_t length = kEmpty;
    };
    static constexpr uint32_t kEmpty = UINT32_MAX;
    size_t Probe(std::string_view key, uint64_t hash) const; // its slot, or an empty one
    void Grow();

    std::vector<TSlot> slots_;
    std::string bytes_;
    size_t count_ = 0;
};

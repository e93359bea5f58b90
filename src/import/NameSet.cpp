#include "import/NameSet.h"

#include <cstring>
#include <functional>

namespace {
uint64_t HashOf(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}
} // namespace

size_t TNameSet::Probe(std::string_view key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const TSlot& slot = slots_[at];
        if (slot.length == kEmpty)
            return at;
        if (slot.hash == hash && slot.length == key.size() &&
            std::memcmp(bytes_.data() + slot.offset, key.data(), key.size()) == 0)
            return at;
    }
}

bool TNameSet::Contains(std::string_view key) const {
    if (slots_.empty())
        return false;
    return slots_[Probe(key, HashOf(key))].length != kEmpty;
}

void TNameSet::Insert(std::string_view key) {
    // At most half full, so probes stay short and always end at an empty slot.
    if ((count_ + 1) * 2 > slots_.size())
        Grow();
    const uint64_t hash = HashOf(key);
    TSlot& slot = slots_[Probe(key, hash)];
    if (slot.length != kEmpty)
        return;
    slot.hash = hash;
    slot.offset = static_cast<uint32_t>(bytes_.size());
    slot.length = static_cast<uint32_t>(key.size());
    bytes_.append(key);
    ++count_;
}

void TNameSet::Grow() {
    std::vector<TSlot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, TSlot{});
    const size_t mask = slots_.size() - 1;
    for (const TSlot& slot : old) {
        if (slot.length == kEmpty)
            continue;
        size_t at = slot.hash & mask;
        while (slots_[at].length != kEmpty)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

void TNameSet::Clear() {
    slots_.clear();
    bytes_.clear();
    count_ = 0;
}

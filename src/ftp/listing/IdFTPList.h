#pragma once
// Directory-listing entries and their collection.
#include "ftp/listing/IdFTPListItem.h"
#include "ftp/listing/IdFTPListTypes.h"

#include <cstddef>
#include <memory>
#include <vector>

// An ordered collection that owns its entries: they keep the order of the listing lines,
// and clearing or destroying the collection destroys them. It also counts the lines the
// parsers could not read as entries, so a caller can tell a short listing from a damaged one.
class TIdFTPListItems {
public:
    TIdFTPListItems() = default;
    TIdFTPListItems(const TIdFTPListItems&) = delete;
    TIdFTPListItems& operator=(const TIdFTPListItems&) = delete;

    // Appends an entry of class T (a TIdFTPListItem or subclass) and returns it.
    template <class T = TIdFTPListItem> T& Add() {
        auto item = std::make_unique<T>();
        T& result = *item;
        items_.push_back(std::move(item));
        return result;
    }

    size_t Count() const { return items_.size(); }
    // Index 0 to Count() - 1; anything else raises std::out_of_range.
    TIdFTPListItem& Items(size_t index) { return *items_.at(index); }
    const TIdFTPListItem& Items(size_t index) const { return *items_.at(index); }
    TIdFTPListItem& operator[](size_t index) { return Items(index); }
    const TIdFTPListItem& operator[](size_t index) const { return Items(index); }
    void Clear() {
        items_.clear();
        skippedLines_ = 0;
    }
    void Reserve(size_t count) { items_.reserve(count); }
    // Drops the last entry (one that turned out not to be an entry) and counts its line.
    void DropLastAsSkipped() {
        if (!items_.empty())
            items_.pop_back();
        ++skippedLines_;
    }
    void CountSkippedLines(size_t count) { skippedLines_ += count; }
    // Lines skipped since the last Clear because no entry could be read from them.
    size_t SkippedLineCount() const { return skippedLines_; }

private:
    std::vector<std::unique_ptr<TIdFTPListItem>> items_;
    size_t skippedLines_ = 0;
};

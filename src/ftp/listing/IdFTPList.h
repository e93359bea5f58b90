#pragma once
// Directory-listing entries and their collection.
#include "ftp/listing/IdFTPListItem.h"
#include "ftp/listing/IdFTPListTypes.h"

#include <cstddef>
#include <memory>
#include <vector>

// An ordered collection that owns its entries: they keep the order of the listing lines,
// and clearing or destroying the collection destroys them.
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
    void Clear() { items_.clear(); }
    void Reserve(size_t count) { items_.reserve(count); }

private:
    std::vector<std::unique_ptr<TIdFTPListItem>> items_;
};

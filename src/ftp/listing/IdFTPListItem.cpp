#include "ftp/listing/IdFTPListItem.h"

#include "ftp/listing/IdListingText.h"

namespace {

bool HasLowerCaseLetter(const std::string& text) {
    for (char c : text)
        if (c >= 'a' && c <= 'z')
            return true;
    return false;
}

std::string LowerAscii(const std::string& text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

void TIdFTPListItem::Assign(const TIdFTPListItem& source) {
    rawLine_ = source.rawLine_;
    kind_ = source.kind_;
    byteSize_ = source.byteSize_;
    modified_ = source.modified_;
    SetName(source.name_);
}

void TIdFTPListItem::SetName(const std::string& newName) {
    // A local name that still follows the name (or none yet) follows the new one; names
    // shouted in capitals by old servers are stored in lower case locally.
    if (localName_.empty() || tavrin::listing::EqualsNoCase(name_, localName_))
        localName_ = HasLowerCaseLetter(newName) ? newName : LowerAscii(newName);
    name_ = newName;
}

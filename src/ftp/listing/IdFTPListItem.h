#pragma once
// One entry of a directory listing, as the server described it. Callers usually include
// IdFTPList.h, which brings the entry classes of every format and the collection.
#include "ftp/listing/IdDateTime.h"

#include <cstdint>
#include <string>

enum EntryKind : uint8_t {
    ekDirectory = 0,
    ekFile,
    ekSymbolicLink,
    ekSymbolicLinkDir, // a symbolic link whose target is a directory
    ekBlockDevice,
    ekCharDevice,
    ekFifo,
    ekSocket,
};

class TIdFTPListItem {
public:
    TIdFTPListItem() = default;
    virtual ~TIdFTPListItem() = default;
    TIdFTPListItem(const TIdFTPListItem&) = delete;
    TIdFTPListItem& operator=(const TIdFTPListItem&) = delete;

    // Copies RawLine, Kind, ByteSize and Modified, then the name through SetName.
    void Assign(const TIdFTPListItem& source);

    // Sets Name and lets LocalName follow it: an all-capitals name (no "a".."z") gets a
    // lower-case local name, any other name is its own local name. A local name that was set
    // apart from the name (recursive listings) is left alone.
    void SetName(const std::string& newName);

    const std::string& Name() const { return name_; }
    const std::string& LocalName() const { return localName_; }
    void SetLocalName(const std::string& value) { localName_ = value; }
    const std::string& RawLine() const { return rawLine_; }
    void SetRawLine(const std::string& value) { rawLine_ = value; }
    int64_t ByteSize() const { return byteSize_; }
    void SetByteSize(int64_t value) { byteSize_ = value; }
    bool ByteSizeKnown() const { return byteSizeKnown_; }
    void SetByteSizeKnown(bool value) { byteSizeKnown_ = value; }
    bool ModifiedKnown() const { return modifiedKnown_; }
    void SetModifiedKnown(bool value) { modifiedKnown_ = value; }
    TDateTime Modified() const { return modified_; } // the server's local time
    void SetModified(TDateTime value) { modified_ = value; }
    TDateTime ModifiedGMT() const { return modifiedGMT_; } // machine listings only
    void SetModifiedGMT(TDateTime value) { modifiedGMT_ = value; }
    EntryKind Kind() const { return kind_; }
    void SetKind(EntryKind value) { kind_ = value; }
    const std::string& ModeText() const { return modeText_; }
    void SetModeText(const std::string& value) { modeText_ = value; }

protected:
    // Machine-listing entries start with size and date unknown.
    TIdFTPListItem(bool byteSizeKnown, bool modifiedKnown)
        : byteSizeKnown_(byteSizeKnown), modifiedKnown_(modifiedKnown) {}

private:
    int64_t byteSize_ = 0;
    std::string rawLine_;
    std::string name_;
    std::string localName_;
    bool byteSizeKnown_ = true;
    bool modifiedKnown_ = true;
    TDateTime modified_ = 0;
    TDateTime modifiedGMT_ = 0;
    EntryKind kind_ = ekFile;
    std::string modeText_;
};

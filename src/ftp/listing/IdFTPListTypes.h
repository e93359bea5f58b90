#pragma once
// The entry classes of each listing format. Each parser fills entries of its own class;
// callers that only need Name and Kind can stay with TIdFTPListItem.
#include "ftp/listing/IdFTPListItem.h"

#include <cstdint>
#include <string>

class TIdOwnerFTPListItem : public TIdFTPListItem {
public:
    const std::string& OwnerName() const { return ownerName_; }
    void SetOwnerName(const std::string& value) { ownerName_ = value; }

private:
    std::string ownerName_;
};

class TIdUnixPermFTPListItem : public TIdOwnerFTPListItem {
public:
    // Three characters each, e.g. "rwx", "r-s".
    const std::string& UserPerms() const { return userPerms_; }
    void SetUserPerms(const std::string& value) { userPerms_ = value; }
    const std::string& GroupPerms() const { return groupPerms_; }
    void SetGroupPerms(const std::string& value) { groupPerms_ = value; }
    const std::string& OtherPerms() const { return otherPerms_; }
    void SetOtherPerms(const std::string& value) { otherPerms_ = value; }

private:
    std::string userPerms_, groupPerms_, otherPerms_;
};

class TIdUnixBaseFTPListItem : public TIdUnixPermFTPListItem {
public:
    int32_t LinkCount() const { return linkCount_; }
    void SetLinkCount(int32_t value) { linkCount_ = value; }
    const std::string& GroupName() const { return groupName_; }
    void SetGroupName(const std::string& value) { groupName_ = value; }
    const std::string& LinkTarget() const { return linkTarget_; }
    void SetLinkTarget(const std::string& value) { linkTarget_ = value; }

private:
    int32_t linkCount_ = 0;
    std::string groupName_;
    std::string linkTarget_;
};

class TIdUnixFTPListItem : public TIdUnixBaseFTPListItem {
public:
    int32_t BlockCount() const { return blockCount_; }
    void SetBlockCount(int32_t value) { blockCount_ = value; }
    int32_t InodeNumber() const { return inodeNumber_; }
    void SetInodeNumber(int32_t value) { inodeNumber_ = value; }

private:
    int32_t blockCount_ = 0;
    int32_t inodeNumber_ = 0;
};

// Hierarchical storage servers: files may sit on tape ("AR", migrated) or disk ("DK").
class TIdUnitreeFTPListItem : public TIdUnixFTPListItem {
public:
    bool Migrated() const { return migrated_; }
    void SetMigrated(bool value) { migrated_ = value; }
    const std::string& FileFamily() const { return fileFamily_; }
    void SetFileFamily(const std::string& value) { fileFamily_ = value; }

private:
    bool migrated_ = false;
    std::string fileFamily_;
};

class TIdWindowsNTFTPListItem : public TIdFTPListItem {};

class TIdCreationDateFTPListItem : public TIdFTPListItem {
public:
    TIdCreationDateFTPListItem() : TIdFTPListItem(false, false) {}
    TDateTime Created() const { return created_; } // local time
    void SetCreated(TDateTime value) { created_ = value; }

private:
    TDateTime created_ = 0;
};

// One 32-bit word of Windows file attributes with a view per flag.
class TIdDOSAttributes {
public:
    enum : uint32_t {
        ReadOnlyBit = 1,
        HiddenBit = 2,
        SystemBit = 4,
        DirectoryBit = 16,
        ArchiveBit = 32,
        NormalBit = 128,
    };
    uint32_t FileAttributes() const { return value_; }
    void SetFileAttributes(uint32_t value) { value_ = value; }
    bool ReadOnly() const { return Has(ReadOnlyBit); }
    bool Hidden() const { return Has(HiddenBit); }
    bool System() const { return Has(SystemBit); }
    bool Directory() const { return Has(DirectoryBit); }
    bool Archive() const { return Has(ArchiveBit); }
    bool Normal() const { return Has(NormalBit); }

protected:
    bool Has(uint32_t bit) const { return (value_ & bit) != 0; }

private:
    uint32_t value_ = 0;
};

class TIdWin32ea : public TIdDOSAttributes {
public:
    enum : uint32_t {
        DeviceBit = 64,
        TemporaryBit = 256,
        SparseFileBit = 512,
        ReparsePointBit = 1024,
        CompressedBit = 2048,
        OfflineBit = 4096,
        NotContentIndexedBit = 8192,
        EncryptedBit = 16384,
    };
    bool Device() const { return Has(DeviceBit); }
    bool Temporary() const { return Has(TemporaryBit); }
    bool SparseFile() const { return Has(SparseFileBit); }
    bool ReparsePoint() const { return Has(ReparsePointBit); }
    bool Compressed() const { return Has(CompressedBit); }
    bool Offline() const { return Has(OfflineBit); }
    bool NotContentIndexed() const { return Has(NotContentIndexedBit); }
    bool Encrypted() const { return Has(EncryptedBit); }
};

class TIdMLSTFTPListItem : public TIdCreationDateFTPListItem {
public:
    bool AttributesKnown() const { return attributesKnown_; }
    void SetAttributesKnown(bool value) { attributesKnown_ = value; }
    TIdWin32ea& Win32Attributes() { return win32Attributes_; }
    const TIdWin32ea& Win32Attributes() const { return win32Attributes_; }
    TDateTime CreatedGMT() const { return createdGMT_; }
    void SetCreatedGMT(TDateTime value) { createdGMT_ = value; }
    TDateTime LastAccess() const { return lastAccess_; } // local time
    void SetLastAccess(TDateTime value) { lastAccess_ = value; }
    TDateTime LastAccessGMT() const { return lastAccessGMT_; }
    void SetLastAccessGMT(TDateTime value) { lastAccessGMT_ = value; }
    const std::string& UniqueKey() const { return uniqueKey_; }
    void SetUniqueKey(const std::string& value) { uniqueKey_ = value; }
    const std::string& PermFact() const { return permFact_; }
    void SetPermFact(const std::string& value) { permFact_ = value; }

private:
    bool attributesKnown_ = false;
    TIdWin32ea win32Attributes_;
    TDateTime createdGMT_ = 0;
    TDateTime lastAccess_ = 0;
    TDateTime lastAccessGMT_ = 0;
    std::string uniqueKey_;
    std::string permFact_;
};

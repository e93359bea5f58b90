#include "config/SettingsKeys.h"

#include "base/StrUtils.h"

#include <algorithm>

namespace tavrin {
namespace {

using R = RConfiguration;
constexpr TKeyUse kImport = TKeyUse::Import;
constexpr TKeyUse kExport = TKeyUse::Export;
constexpr TKeyUse kBoth = TKeyUse::Both;
constexpr TKeySave kAlways = TKeySave::Always;
constexpr TKeySave kWhenChosen = TKeySave::WhenChosen;
// One passive/binary setting has always served both directions; it lives with the export
// keys, and the import page edits it there.
constexpr const char* kSharedWithExport = "Export";

// The order is the order of writes: the import page's and the export page's keys interleave,
// and a key that sits at a different place in the two pages has a row for each.
const TSettingKey kKeys[] = {
    // section, name, default, read by, saved, page control, field
    {nullptr, "LocalFolder", "", kBoth, kAlways, "edtLocalFolder", &R::LocalFolder},
    {nullptr, "TempFolder", "", kImport, kAlways, "edtDownloadToFolder", &R::TempFolder},
    {nullptr, "FirstToTemp", "0", kImport, kAlways, "chkDownloadToFolder", &R::FirstToTemp},
    {nullptr, "MoveDelete", "0", kExport, kAlways, "chkMoveToFolder", &R::MoveDelete},
    {nullptr, "MoveToFolder", "", kExport, kAlways, "edtMoveToLocalFolder", &R::MoveToFolder},
    {nullptr, "Host", "", kBoth, kAlways, "edtHost", &R::Host},
    {nullptr, "Port", "21", kBoth, kAlways, "edtPort", &R::Port},
    {nullptr, "Username", "", kBoth, kAlways, "edtUsername", &R::Username},
    {nullptr, "Password", "", kBoth, kAlways, "edtPassword", &R::Password},
    {kSharedWithExport, "PassiveMode", "1", kBoth, kAlways, "chkPassive", &R::PassiveMode},
    {kSharedWithExport, "BinaryMode", "1", kBoth, kAlways, "chkBinary", &R::BinaryMode},
    {nullptr, "RemoteFolder", "", kBoth, kAlways, "edtRemoteFolder", &R::RemoteFolder},
    {nullptr, "MoveDelete", "0", kImport, kAlways, "chkDeleteFilesAfterDownload", &R::MoveDelete},
    {nullptr, "KeepAlive", "1", kImport, kAlways, "chkKeepAlive", &R::KeepAlive},
    {nullptr, "CheckInterval", "10", kImport, kAlways, "edtCheckInterval", &R::CheckInterval},
    {nullptr, "WaitForStableFiles", "1", kImport, kAlways, "chkWaitForStableFiles",
     &R::WaitForStableFiles},
    {nullptr, "TempFolder", "", kExport, kAlways, "edtRemoteTempFolder", &R::TempFolder},
    {nullptr, "FirstToTemp", "0", kExport, kAlways, "chkUploadToTempFolder", &R::FirstToTemp},
    {nullptr, "SSL", "0", kBoth, kAlways, "chkUseSSL", &R::SSL},
    {nullptr, "SSLCertificate", "", kBoth, kAlways, "edtSSLCertificate", &R::SSLCertificate},
    {nullptr, "SSLKey", "", kBoth, kAlways, "edtSSLKey", &R::SSLKey},
    {nullptr, "SSLPass", "", kBoth, kAlways, "edtSSLPass", &R::SSLPass},
    {nullptr, "SettleTime", "1000", kExport, kAlways, "edtSettleTime", &R::SettleTime, 0},
    {nullptr, "RetryFailed", "0", kExport, kAlways, "chkRetryFailed", &R::RetryFailed},
    {nullptr, "ExportExisting", "0", kExport, kAlways, "chkExportExisting", &R::ExportExisting},
    {nullptr, "ImplicitTLS", "0", kBoth, kWhenChosen, "cmbTlsMode", &R::ImplicitTLS},
    {nullptr, "Protocol", "FTP", kBoth, kWhenChosen, "cmbProtocol", &R::Protocol},
    {nullptr, "SSHKey", "", kBoth, kWhenChosen, "edtSSHKey", &R::SSHKey},
    {nullptr, "SSHKeyPass", "", kBoth, kWhenChosen, "edtSSHKeyPass", &R::SSHKeyPass},
    {nullptr, "SSHAgent", "0", kBoth, kWhenChosen, "chkSSHAgent", &R::SSHAgent},
    // Set by hand in the file for servers that need them; no page shows them.
    {nullptr, "ForcePASV", "0", kBoth, kWhenChosen, nullptr, &R::ForcePASV},
    {nullptr, "UsePasvAddress", "0", kBoth, kWhenChosen, nullptr, &R::UsePasvAddress},
    {nullptr, "UseMLSD", "1", kBoth, kWhenChosen, nullptr, &R::UseMLSD},
    {nullptr, "ResumeDownloads", "1", kImport, kWhenChosen, nullptr, &R::ResumeDownloads},
    // Which files a direction takes; sizes and ages are texts so that a value that cannot be
    // read stops the start instead of quietly taking every file.
    {nullptr, "Include", "", kBoth, kWhenChosen, "edtInclude", &R::Include},
    {nullptr, "Exclude", "", kBoth, kWhenChosen, "edtExclude", &R::Exclude},
    {nullptr, "IgnoreCase", "0", kBoth, kWhenChosen, "chkIgnoreCase", &R::IgnoreCase},
    {nullptr, "MinSize", "", kBoth, kWhenChosen, "edtMinSize", &R::MinSize},
    {nullptr, "MaxSize", "", kBoth, kWhenChosen, "edtMaxSize", &R::MaxSize},
    {nullptr, "MinAge", "", kBoth, kWhenChosen, "edtMinAge", &R::MinAge},
    {nullptr, "Recursive", "0", kImport, kWhenChosen, "chkRecursive", &R::Recursive},
    {nullptr, "MaxDepth", "10", kImport, kWhenChosen, "edtMaxDepth", &R::MaxDepth, 0},
    // Export jobs mirror their subfolders too; set by hand in the file, no page shows them.
    {nullptr, "Recursive", "0", kExport, kWhenChosen, nullptr, &R::Recursive},
    {nullptr, "MaxDepth", "10", kExport, kWhenChosen, nullptr, &R::MaxDepth, 0},
    // Bursts of small files: parallel transfers, and export connections kept between files.
    {nullptr, "Connections", "1", kBoth, kWhenChosen, nullptr, &R::Connections, 1},
    {nullptr, "KeepConnection", "0", kExport, kWhenChosen, nullptr, &R::KeepConnection},
    // Where the passwords are: the dialog's keyring box sets PasswordStore; PasswordFile is
    // written by hand for the service.
    {nullptr, "PasswordStore", "", kBoth, kWhenChosen, nullptr, &R::PasswordStore},
    {nullptr, "PasswordFile", "", kBoth, kWhenChosen, nullptr, &R::PasswordFile},
    // The user's own commands after a file moved and on failures; written by hand.
    {nullptr, "OnTransferCommand", "", kBoth, kWhenChosen, nullptr, &R::OnTransferCommand},
    {nullptr, "OnFailureCommand", "", kBoth, kWhenChosen, nullptr, &R::OnFailureCommand},
};

const std::string kImportSection = "Import";
const std::string kExportSection = "Export";

int32_t IntegerOf(const TSettingKey& key, const std::string& text) {
    const int32_t value = TryStrToInt(text).value_or(StrToInt(key.Default));
    return std::max(value, key.Minimum);
}

} // namespace

std::span<const TSettingKey> SettingKeys() {
    return kKeys;
}

TKeyType TypeOf(const TSettingKey& key) {
    switch (key.Field.index()) {
    case 0:
        return TKeyType::Text;
    case 1:
        return TKeyType::Boolean;
    default:
        return TKeyType::Integer;
    }
}

bool IsUsedBy(const TSettingKey& key, TDirection direction) {
    if (key.Use == TKeyUse::Both)
        return true;
    return (key.Use == TKeyUse::Import) == (direction == TDirection::Import);
}

const std::string& SectionName(TDirection direction) {
    return direction == TDirection::Import ? kImportSection : kExportSection;
}

std::string SectionOf(const TSettingKey& key, TDirection direction) {
    return key.SharedSection ? key.SharedSection : SectionName(direction);
}

std::string SectionOf(const TSettingKey& key, TDirection direction, const std::string& jobSection) {
    if (SameTextAscii(jobSection, SectionName(direction)))
        return SectionOf(key, direction);
    return jobSection;
}

std::string StoredText(const RConfiguration& record, const TSettingKey& key) {
    struct {
        const RConfiguration& r;
        std::string operator()(std::string RConfiguration::*field) const { return r.*field; }
        std::string operator()(bool RConfiguration::*field) const { return r.*field ? "1" : "0"; }
        std::string operator()(int32_t RConfiguration::*field) const {
            return std::to_string(r.*field);
        }
    } text{record};
    return std::visit(text, key.Field);
}

void SetFromStored(RConfiguration& record, const TSettingKey& key, const std::string& text) {
    struct {
        RConfiguration& r;
        const TSettingKey& key;
        const std::string& text;
        void operator()(std::string RConfiguration::*field) const { r.*field = text; }
        void operator()(bool RConfiguration::*field) const { r.*field = IntegerOf(key, text) != 0; }
        void operator()(int32_t RConfiguration::*field) const { r.*field = IntegerOf(key, text); }
    } set{record, key, text};
    std::visit(set, key.Field);
}

} // namespace tavrin

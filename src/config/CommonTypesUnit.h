#pragma once
// The settings a monitor works from, copied by value into each monitor. Field names are the
// INI keys.
#include <cstdint>
#include <string>

// How a direction reaches its server and logs in. Each direction has its own copy, even where
// the settings file shares a key between them (PassiveMode and BinaryMode live in "Export").
struct RServerSettings {
    std::string Host;
    std::string Port;
    bool PassiveMode = false;
    bool BinaryMode = false;
    std::string Username;
    std::string Password;
    bool SSL = false;
    std::string SSLCertificate;
    std::string SSLKey;
    std::string SSLPass;
    // TLS from the first byte (usually port 990) instead of AUTH after the greeting; only
    // with SSL set.
    bool ImplicitTLS = false;
    // Passive mode asks with PASV only, for servers that mishandle EPSV (IPv4 only).
    bool ForcePASV = false;
    // The data connection goes to the address a PASV reply names instead of the control
    // connection's peer (load-balanced servers).
    bool UsePasvAddress = false;
    // Listings use MLSD when the server offers it.
    bool UseMLSD = true;
    // "FTP" (SSL then chooses FTPS) or "SFTP", written as the user wrote it; an absent key
    // is FTP.
    std::string Protocol = "FTP";
    // SFTP: a private key file and its passphrase; SSHAgent tries the running agent's keys
    // before the key file.
    std::string SSHKey;
    std::string SSHKeyPass;
    bool SSHAgent = false;
    // "keyring": Password, SSLPass and SSHKeyPass are kept in the desktop keyring and the
    // file's are empty. Empty (or "file"): they are the file's.
    std::string PasswordStore;
    // A file whose first line is the password (for the service, which has no keyring).
    std::string PasswordFile;

    bool operator==(const RServerSettings&) const = default;
};

// One direction's settings: its server, and what it does there and with the local files.
struct RConfiguration : RServerSettings {
    std::string LocalFolder;
    bool FirstToTemp = false;
    std::string TempFolder;
    std::string MoveToFolder;
    std::string RemoteFolder;
    int32_t CheckInterval = 0;
    bool MoveDelete = false;
    bool KeepAlive = false;
    // Import: fetch an entry only once two listings in a row showed the same size and time.
    bool WaitForStableFiles = true;
    // Export: milliseconds a reported file must stay unchanged before it is uploaded.
    int32_t SettleTime = 1000;
    // Export: failed files still in the folder are tried again later.
    bool RetryFailed = false;
    // Export: files already in the folder at start are uploaded first, oldest first.
    bool ExportExisting = false;
    // Import: a broken binary download goes on where it stopped when the server can resume.
    bool ResumeDownloads = true;
    // Which files the direction takes (rules/FileFilter.h): name patterns separated by ";"
    // (no Include: every name), letter case ignored with IgnoreCase, sizes with k/M/G and an
    // age in seconds. Empty texts set no bound, so the defaults take every file.
    std::string Include;
    std::string Exclude;
    bool IgnoreCase = false;
    std::string MinSize;
    std::string MaxSize;
    std::string MinAge;
    // Take the folders below the job's folder too, down to MaxDepth levels: an import fetches
    // them into the same folders below LocalFolder, an export uploads them into the same
    // folders below RemoteFolder.
    bool Recursive = false;
    int32_t MaxDepth = 10;
    // Commands run after each file moved and when the job or a file fails (jobs/Hooks.h);
    // split into words like a shell's, run without one. Empty: nothing is run.
    std::string OnTransferCommand;
    std::string OnFailureCommand;
    // How many files of the direction move at once, each over its own connection (1 to 8).
    int32_t Connections = 1;
    // Export: a connection stays logged in while more files are due, and says goodbye after
    // a while without work; off, every file logs in and out.
    bool KeepConnection = false;

    const RServerSettings& Server() const { return *this; }
    RServerSettings& Server() { return *this; }

    bool operator==(const RConfiguration&) const = default;
};

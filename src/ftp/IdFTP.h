#pragma once
// The FTP client both monitors drive: session (connect, explicit TLS, login, FEAT, TYPE,
// SYST, CWD, PWD, NOOP, QUIT) and transfers over passive or active data connections
// (listing, download, upload, delete, rename).
#include "ftp/IdExplicitTLSClient.h"
#include "ftp/IdReplyFTP.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

class TIdStream;
class TIdSimpleServer;
class TIdFTPListItems;
class TIdFTPListBase;
using TIdFTPListParseClass = const TIdFTPListBase*;

enum TIdFTPTransferType { ftASCII, ftBinary };
enum TAuthCmd { tAuto, tAuthTLS, tAuthSSL, tAuthTLSC, tAuthTLSP };
enum TIdFTPDataPortSecurity { ftpdpsClear, ftpdpsPrivate };

class TIdFTP : public TIdExplicitTLSClient {
public:
    TIdFTP();
    ~TIdFTP() override; // closes without QUIT

    // Settings; setters check as described by their exceptions.
    const std::string& Username() const { return username_; }
    void SetUsername(const std::string& value) { username_ = value; }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& value) { password_ = value; }
    const std::string& Account() const { return account_; }
    void SetAccount(const std::string& value) { account_ = value; }
    bool AutoLogin() const { return autoLogin_; }
    void SetAutoLogin(bool value) { autoLogin_ = value; }
    bool Passive() const { return passive_; }
    void SetPassive(bool value);
    TIdFTPTransferType TransferType() const { return transferType_; }
    // Sends "TYPE A"/"TYPE I" at once when connected; ignored during a transfer.
    void SetTransferType(TIdFTPTransferType value);
    int TransferTimeout() const { return transferTimeout_; }
    void SetTransferTimeout(int ms) { transferTimeout_ = ms; }
    // Told the size of every chunk the data connections of RETR and STOR (and listings)
    // move from now on; empty: nothing is told.
    void SetOnDataBytes(TIdStreamBytesEvent onBytes) { onDataBytes_ = std::move(onBytes); }
    void SetUseTLS(TIdUseTLS value) override;
    TAuthCmd AUTHCmd() const { return authCmd_; }
    void SetAUTHCmd(TAuthCmd value);
    TIdFTPDataPortSecurity DataPortProtection() const { return dataPortProtection_; }
    void SetDataPortProtection(TIdFTPDataPortSecurity value);
    bool UseCCC() const { return useCCC_; }
    void SetUseCCC(bool value);
    bool UseMLIS() const { return useMLIS_; }
    void SetUseMLIS(bool value) { useMLIS_ = value; }
    // Passive mode on IPv4 asks with PASV only, never EPSV (servers that mishandle it).
    bool ForcePasv() const { return forcePasv_; }
    void SetForcePasv(bool value) { forcePasv_ = value; }
    // Passive mode asks with EPSV only and never falls back to PASV (as always on IPv6).
    bool EpsvOnly() const { return epsvOnly_; }
    void SetEpsvOnly(bool value) { epsvOnly_ = value; }
    // The passive data connection goes to the address a PASV reply names, not to the
    // control connection's peer (load-balanced servers).
    bool UsePasvAddress() const { return usePasvAddress_; }
    void SetUsePasvAddress(bool value) { usePasvAddress_ = value; }
    bool TryNATFastTrack() const { return tryNATFastTrack_; }
    int DataPort() const { return dataPort_; }
    void SetDataPort(int port) { dataPort_ = port; }
    int DataPortMin() const { return dataPortMin_; }
    int DataPortMax() const { return dataPortMax_; }
    void SetDataPortRange(int min, int max);
    const std::string& ExternalIP() const { return externalIP_; }
    void SetExternalIP(const std::string& ip) { externalIP_ = ip; }
    void SetIOHandler(TIdIOHandler* handler) override;

    // Session
    void Connect() override;
    void ChangeDirectory(const std::string& path);
    std::string QueryCurrentDirectory();
    int16_t SendNoop();
    const std::string& SystemDescription() const { return systemDescription_; }
    const TIdReplyFTP& LoginReply() const { return loginReply_; }
    bool UsingMLSD() const { return mlsdUsable_; }
    // This session gave up on EPSV (refused, or its data port unreachable) and uses PASV.
    bool EpsvRefused() const { return epsvRefused_; }

    // Listing: MLSD when the server offers it and UseMLIS is set, otherwise LIST (details)
    // or NLST. `lines` (may be null) receives the listing lines.
    void ListDirectory(std::vector<std::string>* lines, const std::string& specifier, bool details);
    const std::vector<std::string>& ListingLines() const { return listingLines_; }
    // The last listing parsed into entries (built on first call after a listing).
    TIdFTPListItems& DirectoryEntries();
    TIdFTPListParseClass ListParserClass() const { return listParserClass_; }
    void SetListParserClass(TIdFTPListParseClass parser) { listParserClass_ = parser; }
    const std::string& DetectedFormat() const { return detectedFormat_; }

    // Transfers. No exception means every byte was written and the server confirmed.
    void DownloadFile(const std::string& remoteName, const std::string& localPath,
                      bool canOverwrite, bool resume);
    void DownloadToStream(const std::string& remoteName, TIdStream& target, bool resume);
    void UploadFile(const std::string& localPath, const std::string& remoteName, bool append);
    void UploadFromStream(TIdStream& source, const std::string& remoteName, bool append);
    void DeleteRemoteFile(const std::string& name);
    void RenameRemoteFile(const std::string& fromName, const std::string& toName);
    // Whether a download can go on from an offset (REST). A server that answered FEAT has
    // said so there (REST STREAM); only one that did not is probed, once per client, with
    // "REST 1" (350: yes).
    bool CanResume();
    // FEAT was answered with a feature list, and it has "REST STREAM".
    bool OffersRestStream() const;

    // Bounds of the waits the protocol leaves open: an active-mode accept, and a data read
    // that receives nothing (used when TransferTimeout is 0).
    static constexpr int kDataWaitLimitMs = 60000;
    // A passive data connect when no connect time-out is set.
    static constexpr int kDataConnectLimitMs = 20000;
    // The final reply's wait once the data side has failed.
    static constexpr int kFinalReplyAfterFailureMs = 10000;

protected:
    void NotifyPeerOnDisconnect() override;

private:
    void Login();
    void NegotiateTls();
    void AuthRefused();
    void ReadFeatures();
    void SendTransferType();
    void SendUtf8Option();

    // Data connections
    void SendDataPortCommands();
    void SendPret(const std::string& command);
    void SendPasv(std::string& host, int& port);
    // EPSV and its data connection; false when this session must use PASV instead.
    bool OpenEpsvDataConnection();
    void FallBackToPasv(const std::string& why);
    void OpenPasvDataConnection();
    std::exception_ptr StartPasvUpload(const std::string& command);
    bool ControlIsIPv6() const;
    void SendPort(TIdSimpleServer& listener);
    void ListInto(TIdStream& buffer, const std::string& specifier, bool details);
    void StoreListing(const std::string& data, std::vector<std::string>* lines);
    std::unique_ptr<TIdIOHandlerSocket> MakeDataHandler();
    TIdTCPClient& NewPassiveDataClient(const std::string& host, int port);
    TIdSimpleServer& NewActiveDataListener();
    void TransferFrom(const std::string& command, TIdStream& target, bool resume);
    void TransferTo(const std::string& command, TIdStream& source, bool fromBeginning);
    void BeginDataOperation();
    void FinishDataOperation();
    void EnableDataTls(TIdIOHandlerSocket& handler);
    std::string ControlLocalIP() const;
    std::string ControlPeerIP() const;

    std::string username_, password_, account_;
    bool autoLogin_ = true;
    bool passive_ = false;
    TIdFTPTransferType transferType_ = ftBinary;
    int transferTimeout_ = 0;
    TIdStreamBytesEvent onDataBytes_;
    TAuthCmd authCmd_ = tAuto;
    TIdFTPDataPortSecurity dataPortProtection_ = ftpdpsClear;
    bool useCCC_ = false;
    bool cccInEffect_ = false;
    bool useMLIS_ = false;
    bool forcePasv_ = false;
    bool epsvOnly_ = false;
    bool usePasvAddress_ = false;
    bool tryNATFastTrack_ = false;
    int dataPort_ = 0, dataPortMin_ = 0, dataPortMax_ = 0;
    std::string externalIP_;

    std::string systemDescription_;
    TIdReplyFTP loginReply_;
    bool mlsdUsable_ = false;
    bool epsvRefused_ = false;
    int resumeProbe_ = -1; // -1 not probed, 0 no, 1 yes
    bool featAnswered_ = false;

    // During one transfer
    std::unique_ptr<TIdTCPConnection> dataConnection_;
    std::unique_ptr<TIdIOHandlerSocket> dataHandler_;
    std::atomic<bool> abortRequested_{false};
    bool transferCommandSent_ = false; // the server has the transfer command
    bool preliminaryPending_ = false;  // ... but its preliminary reply was not read yet
    bool dataSideFailed_ = false;

    // Listing buffer
    std::vector<std::string> listingLines_;
    bool machineListing_ = false;
    std::unique_ptr<TIdFTPListItems> entries_;
    bool entriesParsed_ = false;
    TIdFTPListParseClass listParserClass_ = nullptr;
    std::string detectedFormat_;
};

// Helpers of the data connection, exposed for their own tests.
namespace tavrin::ftp {
// Host and port of a 227 reply's first text line; raises EConvertError for a non-number.
void ParsePasvReply(const std::string& firstLine, std::string& host, int& port);
// The port of a 229 reply's first text line, "(|||port|)" with any delimiter; raises
// EConvertError when there is none.
int ParseEpsvReply(const std::string& firstLine);
// "a,b,c,d,p1,p2" for PORT.
std::string PortArgument(const std::string& ip, int port);
// "|1|ip|port|" or "|2|ip|port|" for EPRT.
std::string EprtArgument(const std::string& ip, int port);
// Splits listing text: lines end at CR LF, LF or CR; NUL ends the text; no empty last line.
std::vector<std::string> SplitListingLines(const std::string& text);
} // namespace tavrin::ftp

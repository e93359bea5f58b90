// TIdFTP transfers: data-port commands, passive and active data connections, listing,
// download and upload.
#include "base/IdException.h"
#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdFTP.h"
#include "ftp/IdLineEndStreams.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"
#include "ftp/IdSimpleServer.h"
#include "ftp/IdStream.h"
#include "ftp/listing/IdFTPList.h"
#include "ftp/listing/IdFTPListParseBase.h"
#include "platform/FileSystem.h"
#include "platform/SocketApi.h"

#include <exception>

using namespace tavrin;

void TIdFTP::SendDataPortCommands() {
    if (tlsActive_ && !cccInEffect_) {
        SendCommand("PBSZ 0");
        SendCommand(dataPortProtection_ == ftpdpsPrivate ? "PROT P" : "PROT C", {200});
    }
}

void TIdFTP::SendPret(const std::string& command) {
    if (HasFeature("PRET"))
        SendCommand("PRET " + command);
}

std::unique_ptr<TIdIOHandlerSocket> TIdFTP::MakeDataHandler() {
    std::unique_ptr<TIdIOHandlerSocket> handler;
    TIdSSLIOHandlerSocketBase* tls = TlsHandler();
    if (dataPortProtection_ == ftpdpsPrivate && tls) {
        auto duplicate = tls->Duplicate();
        duplicate->SetBypass(true);
        handler = std::move(duplicate);
    } else {
        handler = std::make_unique<TIdIOHandlerStack>();
    }
    if (TIdIOHandler* control = IOHandler()) {
        // A data address that drops packets must not hold us for the system's minutes.
        handler->SetConnectTimeout(control->ConnectTimeout() > 0 ? control->ConnectTimeout()
                                                                 : kDataConnectLimitMs);
        handler->SetSendBufferSize(control->SendBufferSize());
        handler->SetRecvBufferSize(control->RecvBufferSize());
        if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(control))
            handler->SetIPVersion(socket->IPVersion());
    }
    // A data connection that stops delivering must not hold the transfer for ever.
    handler->SetReadTimeout(transferTimeout_ > 0 ? transferTimeout_ : kDataWaitLimitMs);
    handler->OnStreamBytes = onDataBytes_;
    return handler;
}

void TIdFTP::EnableDataTls(TIdIOHandlerSocket& handler) {
    if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(&handler))
        tls->SetBypass(false);
}

void TIdFTP::BeginDataOperation() {
    transferCommandSent_ = false;
    preliminaryPending_ = false;
    dataSideFailed_ = false;
}

void TIdFTP::FinishDataOperation() {
    // Run from a handler, the data side has failed (a stall, a reset, no connection).
    const bool dataSideFailed = dataSideFailed_ || std::current_exception() != nullptr;
    if (dataHandler_)
        dataHandler_->Close();
    dataConnection_.reset();
    dataHandler_.reset();
    // A command the server never got (a listener that could not be made) has no answer.
    if (!transferCommandSent_ || lastReply_.NumericCode() >= 300) {
        DoStatus(ftpAborted, "Transfer aborted");
        return;
    }
    DoStatus(ftpReady, "Transfer complete");
    TIdIOHandler* control = IOHandler();
    const int readTimeout = control ? control->ReadTimeout() : -1;
    // After a failed data side the server has usually answered already; one that has not
    // within a few seconds is not waited for a whole read time-out more.
    if (dataSideFailed && control && (readTimeout <= 0 || readTimeout > kFinalReplyAfterFailureMs))
        control->SetReadTimeout(kFinalReplyAfterFailureMs);
    try {
        ReadReply();
        // The server may have seen a data connection we then gave up on: its preliminary
        // reply comes first, and the final one after it must be read to stay in step.
        if (preliminaryPending_ && lastReply_.NumericCode() >= 100 &&
            lastReply_.NumericCode() < 200)
            ReadReply();
    } catch (...) {
        if (IOHandler() == control && control)
            control->SetReadTimeout(readTimeout);
        throw;
    }
    if (IOHandler() == control && control)
        control->SetReadTimeout(readTimeout);
    CheckReplyCode(static_cast<int16_t>(lastReply_.NumericCode()), {226, 225, 250});
}

namespace {
// Runs the finishing step after a failure, then raises the original failure: it says what
// went wrong on our side (a full disk, a stalled connection), which a server's 426 would hide.
template <class Finish> [[noreturn]] void FinishAfterFailure(Finish finish) {
    std::exception_ptr original = std::current_exception();
    try {
        finish();
    } catch (const std::exception&) {
    }
    std::rethrow_exception(original);
}

// Failures that may follow the last byte of an upload without harming it: the data socket
// already gone (passive mode) or the server closing the data connection. The final reply
// still decides whether the upload succeeded.
bool HarmlessAfterLastByte(std::exception_ptr failure, bool passive) {
    try {
        std::rethrow_exception(failure);
    } catch (const EIdNotASocket&) {
        return passive;
    } catch (const EIdConnClosedGracefully&) {
        return true;
    } catch (...) {
        return false;
    }
}
} // namespace

void TIdFTP::TransferFrom(const std::string& command, TIdStream& target, bool resume) {
    abortRequested_ = false;
    BeginDataOperation();
    DoStatus(ftpTransfer, "Starting FTP transfer");
    const bool dataTls = dataPortProtection_ == ftpdpsPrivate && (passive_ || tlsActive_);
    if (passive_) {
        SendPret(command);
        SendDataPortCommands();
        if (!OpenEpsvDataConnection())
            OpenPasvDataConnection();
        try {
            if (resume)
                SendCommand("REST " + std::to_string(target.Position()), {350});
            transferCommandSent_ = true;
            WriteCommand(command);
            ReadExpectedReply({125, 150, 154});
            if (dataTls)
                EnableDataTls(*dataHandler_);
            dataHandler_->ReadStreamUntilClose(target);
        } catch (...) {
            FinishAfterFailure([this] { FinishDataOperation(); });
        }
        FinishDataOperation();
        return;
    }
    TIdSimpleServer* listener = nullptr;
    try {
        listener = &NewActiveDataListener();
        listener->BeginListen();
    } catch (...) {
        dataConnection_.reset();
        dataHandler_.reset();
        throw;
    }
    try {
        SendDataPortCommands();
        SendPort(*listener);
        if (resume)
            SendCommand("REST " + std::to_string(target.Position()), {350});
        transferCommandSent_ = true;
        SendCommand(command, {125, 150, 154});
        listener->Listen(dataHandler_->ReadTimeout());
        if (dataTls)
            EnableDataTls(*dataHandler_);
        dataHandler_->ReadStreamUntilClose(target);
    } catch (...) {
        FinishAfterFailure([this] { FinishDataOperation(); });
    }
    FinishDataOperation();
}

void TIdFTP::TransferTo(const std::string& command, TIdStream& source, bool fromBeginning) {
    abortRequested_ = false;
    BeginDataOperation();
    DoStatus(ftpTransfer, "Starting FTP transfer");
    const bool dataTls = tlsActive_ && dataPortProtection_ == ftpdpsPrivate;
    bool allSent = false;
    std::exception_ptr connectFailure;
    try {
        if (passive_) {
            SendPret(command);
            SendDataPortCommands();
            if (OpenEpsvDataConnection()) {
                // The extended data connection is up before the command goes out.
                transferCommandSent_ = true;
                preliminaryPending_ = true;
                WriteCommand(command);
                ReadExpectedReply({110, 125, 150});
                preliminaryPending_ = false;
            } else {
                connectFailure = StartPasvUpload(command);
            }
        } else {
            TIdSimpleServer& server = NewActiveDataListener();
            server.BeginListen();
            SendDataPortCommands();
            SendPort(server);
            transferCommandSent_ = true;
            SendCommand(command, {125, 150});
            server.Listen(dataHandler_->ReadTimeout());
        }
        if (!connectFailure) {
            if (dataTls)
                EnableDataTls(*dataHandler_);
            if (fromBeginning)
                source.SetPosition(0);
            dataHandler_->WriteStream(source);
            allSent = true;
            // The server's close of the data connection says it has read everything.
            dataHandler_->CloseAfterSending(
                dataHandler_->ReadTimeout() > 0 ? dataHandler_->ReadTimeout() : kDataWaitLimitMs);
        }
    } catch (...) {
        if (!dataConnection_)
            throw;
        // Unlike a failure during the write, which would leave a short file on the server.
        if (!(allSent && HarmlessAfterLastByte(std::current_exception(), passive_)))
            FinishAfterFailure([this] { FinishDataOperation(); });
    }
    if (dataConnection_)
        FinishDataOperation();
    if (connectFailure)
        std::rethrow_exception(connectFailure);
}

// A fresh data handler and the passive data connection that uses it; both are the client's
// until the transfer is finished.
TIdTCPClient& TIdFTP::NewPassiveDataClient(const std::string& host, int port) {
    dataHandler_ = MakeDataHandler();
    auto client = std::make_unique<TIdTCPClient>();
    client->SetHost(host);
    client->SetPort(port);
    client->SetConnectTimeout(dataHandler_->ConnectTimeout());
    client->SetReadTimeout(dataHandler_->ReadTimeout());
    client->SetIOHandler(dataHandler_.get());
    TIdTCPClient& connection = *client;
    dataConnection_ = std::move(client);
    return connection;
}

// The same for active mode: a listener on the control connection's local address, not yet
// listening.
TIdSimpleServer& TIdFTP::NewActiveDataListener() {
    auto listener = std::make_unique<TIdSimpleServer>();
    dataHandler_ = MakeDataHandler();
    listener->SetIOHandler(dataHandler_.get());
    TIdSimpleServer& server = *listener;
    dataConnection_ = std::move(listener);
    server.SetBoundIP(ControlLocalIP());
    server.SetBoundPort(dataPort_);
    server.SetBoundPortRange(dataPortMin_, dataPortMax_);
    server.SetAllowedPeerIP(ControlPeerIP());
    return server;
}

std::string TIdFTP::ControlPeerIP() const {
    auto* control = dynamic_cast<TIdIOHandlerSocket*>(IOHandler());
    if (!control || control->SocketHandle() < 0)
        throw EIdNotConnected();
    return net::PeerAddress(control->SocketHandle()).ip;
}

std::string TIdFTP::ControlLocalIP() const {
    auto* control = dynamic_cast<TIdIOHandlerSocket*>(IOHandler());
    if (!control || control->SocketHandle() < 0)
        throw EIdNotConnected();
    return net::LocalAddress(control->SocketHandle()).ip;
}

// ---- listing ----

void TIdFTP::ListDirectory(std::vector<std::string>* lines, const std::string& specifier,
                           bool details) {
    TIdCappedStringStream buffer;
    machineListing_ = false;
    if (mlsdUsable_) {
        try {
            TransferFrom("MLSD", buffer, false);
            machineListing_ = true;
        } catch (const EIdReplyRFCError& refusal) {
            // Servers that offer MLSD and then refuse it would fail every listing; only a
            // refusal of MLSD itself counts, not one of the commands before it.
            if (!transferCommandSent_ || refusal.ErrorCode() < 500 || refusal.ErrorCode() > 599)
                throw;
            mlsdUsable_ = false;
            DoStatus(hsStatusText, "MLSD refused (" + std::to_string(refusal.ErrorCode()) +
                                       "); listing with LIST from now on");
        }
    }
    if (machineListing_) {
        StoreListing(buffer.Data(), lines);
        return;
    }
    TIdCappedStringStream text;
    ListInto(text, specifier, details);
    StoreListing(text.Data(), lines);
}

void TIdFTP::StoreListing(const std::string& data, std::vector<std::string>* lines) {
    listingLines_ = ftp::SplitListingLines(data);
    entries_->Clear();
    entriesParsed_ = false;
    if (lines)
        *lines = listingLines_;
}

// LIST or NLST, in ASCII mode for the time of the listing.
void TIdFTP::ListInto(TIdStream& buffer, const std::string& specifier, bool details) {
    const bool switched = transferType_ != ftASCII;
    const TIdFTPTransferType before = transferType_;
    if (switched) {
        transferType_ = ftASCII;
        try {
            SendTransferType();
        } catch (...) {
            transferType_ = before;
            throw;
        }
    }
    auto restore = [&] {
        if (!switched)
            return;
        transferType_ = before;
        SendTransferType();
    };
    try {
        TransferFrom(Trim(std::string(details ? "LIST" : "NLST") + " " + specifier), buffer, false);
    } catch (...) {
        try {
            restore();
        } catch (const std::exception&) {
        }
        throw;
    }
    restore();
}

TIdFTPListItems& TIdFTP::DirectoryEntries() {
    if (entriesParsed_)
        return *entries_;
    entries_->Clear();
    if (!listingLines_.empty()) {
        if (machineListing_)
            ParserRegistry().ParseWithFormat(listingLines_, *entries_, "MLST");
        else
            ParserRegistry().DetectAndParse(listingLines_, *entries_, detectedFormat_, true,
                                            systemDescription_, listParserClass_);
    }
    if (const size_t skipped = entries_->SkippedLineCount())
        DoStatus(hsStatusText, "Listing lines skipped as unreadable: " + std::to_string(skipped));
    entriesParsed_ = true;
    return *entries_;
}

// ---- files ----

void TIdFTP::DownloadFile(const std::string& remoteName, const std::string& localPath,
                          bool canOverwrite, bool resume) {
    resume = resume && CanResume();
    std::unique_ptr<TIdFileStream> file;
    if (canOverwrite && !resume) {
        if (fs::FileExists(localPath))
            fs::DeleteFile(localPath);
        file = std::make_unique<TIdFileStream>(localPath, TIdFileStream::Mode::Create);
    } else if (resume && !canOverwrite) {
        file = std::make_unique<TIdFileStream>(localPath, TIdFileStream::Mode::OpenOrCreateAppend);
    } else {
        throw EIdFTPFileAlreadyExists();
    }
    DownloadToStream(remoteName, *file, resume);
    file->Close();
}

void TIdFTP::DownloadToStream(const std::string& remoteName, TIdStream& target, bool resume) {
    // A resumed download goes on where the local file ends; otherwise it starts afresh.
    if (!resume)
        target.SetPosition(0);
    if (transferType_ != ftASCII) {
        TransferFrom("RETR " + remoteName, target, resume);
        return;
    }
    // Text comes with CR LF line ends; here lines end with LF.
    TIdCrLfToLfWriter text(target);
    TransferFrom("RETR " + remoteName, text, resume);
    text.Flush();
}

void TIdFTP::UploadFile(const std::string& localPath, const std::string& remoteName, bool append) {
    std::string name = remoteName;
    if (name.empty()) {
        const size_t slash = localPath.rfind('/');
        name = slash == std::string::npos ? localPath : localPath.substr(slash + 1);
    }
    TIdFileStream file(localPath, TIdFileStream::Mode::OpenRead);
    UploadFromStream(file, name, append);
}

void TIdFTP::UploadFromStream(TIdStream& source, const std::string& remoteName, bool append) {
    if (remoteName.empty())
        throw EIdFTPUploadFileNameCanNotBeEmpty();
    const std::string command = (append ? "APPE " : "STOR ") + remoteName;
    if (transferType_ != ftASCII) {
        TransferTo(command, source, !append);
        return;
    }
    // Our lines end with LF; text goes over the wire with CR LF.
    TIdLfToCrLfReader text(source);
    TransferTo(command, text, !append);
}

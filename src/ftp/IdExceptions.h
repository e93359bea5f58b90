#pragma once
// The failures of the FTP client. Every class derives from EIdException; callers catch that
// (or std::exception) and show what(). The messages are fixed texts.
#include "base/IdException.h"
#include "platform/SocketError.h"

#include <cstdint>
#include <string>

#define TAVRIN_ID_EXCEPTION(Name, Base, Text)                                                      \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name() : Base(Text) {}                                                                     \
        explicit Name(const std::string& message) : Base(message) {}                               \
    };

class EIdReplyError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

// A reply outside the accepted codes; the message is the reply's text lines, each followed
// by CR LF, and ErrorCode() the numeric reply code.
class EIdReplyRFCError : public EIdReplyError {
public:
    EIdReplyRFCError(int errorCode, const std::string& message)
        : EIdReplyError(message), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

TAVRIN_ID_EXCEPTION(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.")
TAVRIN_ID_EXCEPTION(EIdNotConnected, EIdException, "Not connected.")
TAVRIN_ID_EXCEPTION(EIdAlreadyConnected, EIdException, "Already connected.")
TAVRIN_ID_EXCEPTION(EIdHostRequired, EIdException, "")
TAVRIN_ID_EXCEPTION(EIdPortRequired, EIdException, "")
TAVRIN_ID_EXCEPTION(EIdConnectTimeout, EIdException, "Connect timed out.")
TAVRIN_ID_EXCEPTION(EIdConnectException, EIdException, "")
TAVRIN_ID_EXCEPTION(EIdReadTimeout, EIdException, "Read Timeout")
TAVRIN_ID_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.")
TAVRIN_ID_EXCEPTION(EIdAcceptTimeout, EIdException, "Accept timed out.")

// Explicit TLS client
TAVRIN_ID_EXCEPTION(EIdTLSClientCanNotSetWhileConnected, EIdException,
                    "This value can not be set while the client is connected.")
TAVRIN_ID_EXCEPTION(EIdTLSClientSSLIOHandlerRequred, EIdException,
                    "SSL IOHandler is required for this setting")
TAVRIN_ID_EXCEPTION(EIdTLSClientTLSNotAvailable, EIdException,
                    "Start SSL negotiation command failed.")
TAVRIN_ID_EXCEPTION(EIdTLSClientTLSHandShakeFailed, EIdException,
                    "SSL is not available on this server.")

// FTP client
TAVRIN_ID_EXCEPTION(EIdFTPWrongIOHandler, EIdException, "IOHandler is of wrong type.")
TAVRIN_ID_EXCEPTION(EIdFTPNoAUTHWOSSL, EIdException, "Can not set AUTH without SSL.")
TAVRIN_ID_EXCEPTION(EIdFTPCanNotSetAUTHCon, EIdException, "Can not set AUTH while connected.")
TAVRIN_ID_EXCEPTION(EIdFTPNoDataPortProtectionWOEncryption, EIdException,
                    "Can not set DataPortProtection with unencrypted connections.")
TAVRIN_ID_EXCEPTION(EIdFTPNoDataPortProtectionAfterCCC, EIdException,
                    "Can not set DataPortProtection after CCC issued.")
TAVRIN_ID_EXCEPTION(EIdFTPNoCCCWOEncryption, EIdException, "Can not set CCC without encyption.")
TAVRIN_ID_EXCEPTION(EIdFTPPassiveMustBeTrueWithNATFT, EIdException,
                    "Can not use active transfers with NAT fastracking.")
TAVRIN_ID_EXCEPTION(EIdFTPFileAlreadyExists, EIdException, "Destination file already exists.")
TAVRIN_ID_EXCEPTION(EIdFTPUploadFileNameCanNotBeEmpty, EIdException,
                    "The destination filename can not be empty")
TAVRIN_ID_EXCEPTION(EIdSocksServerCommandError, EIdException, "Command not supported.")

// A command line with CR, LF or NUL in it would let a file name smuggle a second command
// onto the control connection; it is refused before anything is sent.
TAVRIN_ID_EXCEPTION(EIdUnsafeCommand, EIdException,
                    "Command refused: it contains a line break or NUL character.")

// Local file failures of transfers (the message names the file and the system's reason).
class EIdFileError : public EIdException {
public:
    using EIdException::EIdException;
};

#undef TAVRIN_ID_EXCEPTION

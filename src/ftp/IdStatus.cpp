#include "ftp/IdStatus.h"

std::string StatusText(TIdStatus status, const std::string& arg) {
    switch (status) {
    case hsResolving:
        return "Resolving hostname " + arg + ".";
    case hsConnecting:
        return "Connecting to " + arg + ".";
    case hsConnected:
        return "Connected.";
    case hsDisconnecting:
        return "Disconnecting.";
    case hsDisconnected:
        return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted:
        break;
    }
    return arg;
}

#pragma once
// Status notifications of connections and transfers, with the texts handed to OnStatus.
#include <functional>
#include <string>

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

// sender, status, text
using TIdStatusEvent =
    std::function<void(const void* sender, TIdStatus status, const std::string& text)>;

// The status's format ("Resolving hostname %s.", "Connected.", "%s", ...) filled with `arg`.
std::string StatusText(TIdStatus status, const std::string& arg);

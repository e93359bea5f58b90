#include "config/UserMessages.h"

#include <cstdio>
#include <mutex>

namespace tavrin {
namespace {
std::mutex gSinkMutex;
TMessageSink gSink;
} // namespace

void SetErrorMessageSink(TMessageSink sink) {
    std::lock_guard lock(gSinkMutex);
    gSink = std::move(sink);
}

void ShowErrorMessage(const std::string& text) {
    TMessageSink sink;
    {
        std::lock_guard lock(gSinkMutex);
        sink = gSink;
    }
    if (sink)
        sink(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace tavrin

#include "Conversation.h"

#include "base/StrUtils.h"

namespace tavrin::tool {

std::string TConversationLog::Masked(const std::string& command) {
    if (command.size() >= 4 && SameTextAscii(command.substr(0, 4), "PASS") &&
        (command.size() == 4 || command[4] == ' '))
        return command.substr(0, 4) + " ****";
    return command;
}

void TConversationLog::Split(std::string& pending, const char* data, size_t size,
                             const char* prefix) {
    pending.append(data, size);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::fprintf(out_, "%s%s\n", prefix, Masked(line).c_str());
    }
    std::fflush(out_);
}

} // namespace tavrin::tool

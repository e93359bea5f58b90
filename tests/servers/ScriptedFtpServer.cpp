#include "servers/ScriptedFtpServer.h"

#include <cctype>
#include <cstdio>
#include <sys/eventfd.h>
#include <unistd.h>

namespace testsrv {

namespace {

// The verb is the first word, upper-cased. Telnet interrupt bytes a client may send ahead
// of ABOR are not part of it.
std::string VerbOf(const std::string& line) {
    size_t start = 0;
    while (start < line.size() && static_cast<unsigned char>(line[start]) >= 0xF0)
        ++start;
    size_t end = line.find(' ', start);
    std::string verb = line.substr(start, end == std::string::npos ? end : end - start);
    for (char& c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return verb;
}

std::string ArgumentOf(const std::string& line) {
    size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : line.substr(space + 1);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

ScriptedFtpServer::ScriptedFtpServer(std::string greeting, std::string address)
    : greeting_(std::move(greeting)), address_(std::move(address)),
      stop_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!stop_.Valid())
        throw std::runtime_error("eventfd() failed");
    listen_ = ListenLoopback(port_, address_);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    // The eventfd stays readable once written, so every poll in every thread returns.
    uint64_t one = 1;
    ssize_t written = ::write(stop_.Get(), &one, sizeof one);
    (void)written;
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::lock_guard lock(sessionsMutex_);
    for (std::thread& t : sessionThreads_)
        t.join();
}

void ScriptedFtpServer::Reply(const std::string& verb, const std::string& raw) {
    std::lock_guard lock(mutex_);
    replies_[Upper(verb)].push_back(raw);
}

void ScriptedFtpServer::Handle(const std::string& verb, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[Upper(verb)] = std::move(handler);
}

std::vector<std::string> ScriptedFtpServer::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool ScriptedFtpServer::WaitForCommands(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return commandsChanged_.wait_for(lock, limit, [&] { return commands_.size() >= count; });
}

void ScriptedFtpServer::AcceptLoop() {
    for (;;) {
        if (WaitFor(listen_.Get(), false, stop_.Get(), std::chrono::hours(1)) ==
            WaitResult::Stopped)
            return;
        UniqueFd client = AcceptWithin(listen_.Get(), stop_.Get(), std::chrono::milliseconds(0));
        if (!client.Valid())
            continue;
        ++sessionsAccepted_;
        std::lock_guard lock(sessionsMutex_);
        sessions_.push_back(
            std::make_unique<ScriptedSession>(std::move(client), stop_.Get(), address_));
        ScriptedSession& session = *sessions_.back();
        sessionThreads_.emplace_back([this, &session] { RunSession(session); });
    }
}

void ScriptedFtpServer::RunSession(ScriptedSession& session) {
    if (!greeting_.empty())
        session.Send(greeting_);
    std::string line;
    while (!session.ControlClosed() && session.ReadLine(line)) {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
        }
        commandsChanged_.notify_all();
        try {
            Dispatch(session, line);
        } catch (const std::exception& e) {
            // A script that cannot go on hangs up, so the client sees a failure, not a hang.
            std::fprintf(stderr, "scripted FTP server: %s: %s\n", line.c_str(), e.what());
            session.CloseControl();
        }
    }
    session.DataClose();
    session.CloseControl();
}

void ScriptedFtpServer::Dispatch(ScriptedSession& session, const std::string& line) {
    const std::string verb = VerbOf(line);
    bool portAccepted = false;
    if (verb == "PORT")
        portAccepted = session.RememberPort(ArgumentOf(line));
    else if (verb == "EPRT")
        portAccepted = session.RememberExtendedPort(ArgumentOf(line));

    Handler handler;
    std::string canned;
    bool haveCanned = false;
    {
        std::lock_guard lock(mutex_);
        if (auto h = handlers_.find(verb); h != handlers_.end()) {
            handler = h->second;
        } else if (auto r = replies_.find(verb); r != replies_.end() && !r->second.empty()) {
            canned = r->second.front();
            if (r->second.size() > 1)
                r->second.pop_front();
            haveCanned = true;
        }
    }
    if (handler) {
        handler(session, line);
    } else if (haveCanned) {
        session.Send(canned);
        if (verb == "QUIT")
            session.CloseControl();
    } else {
        DefaultReply(session, verb, portAccepted);
    }
}

void ScriptedFtpServer::DefaultReply(ScriptedSession& session, const std::string& verb,
                                     bool portAccepted) {
    static const std::map<std::string, std::string> defaults = {
        {"USER", "331 Password required\r\n"},
        {"PASS", "230 Logged in\r\n"},
        {"FEAT", "211-Features:\r\n211 End\r\n"},
        {"TYPE", "200 Type set\r\n"},
        {"SYST", "215 UNIX Type: L8\r\n"},
        {"PWD", "257 \"/\" is current directory\r\n"},
        {"CWD", "250 OK\r\n"},
        {"NOOP", "200 NOOP ok\r\n"},
    };
    if (verb == "PASV") {
        session.Send(session.OpenPassive());
    } else if (verb == "EPSV" && address_ == "::1") {
        session.Send(session.OpenExtendedPassive());
    } else if (verb == "EPRT" && address_ == "::1") {
        session.Send(portAccepted ? "200 EPRT ok\r\n" : "500 Illegal EPRT\r\n");
    } else if (verb == "PORT") {
        session.Send(portAccepted ? "200 PORT ok\r\n" : "500 Illegal PORT\r\n");
    } else if (verb == "QUIT") {
        session.Send("221 Bye\r\n");
        session.CloseControl();
    } else if (auto d = defaults.find(verb); d != defaults.end()) {
        session.Send(d->second);
    } else {
        session.Send("502 Command not implemented\r\n");
    }
}

ScriptedFtpServer::Handler ServeData(std::string payload, std::string preliminary,
                                     std::string final) {
    return [=](ScriptedSession& session, const std::string&) {
        session.Send(preliminary);
        try {
            session.DataSend(payload);
        } catch (const DataConnectionError&) {
            session.Send("425 Can't open data connection\r\n");
            return;
        }
        session.DataClose();
        session.Send(final);
    };
}

ScriptedFtpServer::Handler ReceiveData(std::shared_ptr<std::string> sink, std::string preliminary,
                                       std::string final) {
    return [=](ScriptedSession& session, const std::string&) {
        session.Send(preliminary);
        std::string received;
        try {
            received = session.DataReceiveAll(ScriptedSession::kDataConnectLimit);
        } catch (const DataConnectionError&) {
            session.Send("425 Can't open data connection\r\n");
            return;
        }
        session.DataClose();
        *sink += received;
        session.Send(final);
    };
}

} // namespace testsrv

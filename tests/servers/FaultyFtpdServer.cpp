#include "servers/FaultyFtpdServer.h"

#include "servers/RealServers.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef TAVRIN_SOURCE_DIR
#error "TAVRIN_SOURCE_DIR must name the source tree (it holds faulty_ftpd.py)"
#endif

namespace testsrv {

namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kPortMarker = "TAVRIN_PYFTPD_PORT=";

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadWholeFile(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

FaultPlan& FaultPlan::Add(Entry entry) {
    entries_.push_back(std::move(entry));
    return *this;
}

FaultPlan& FaultPlan::CutDownload(const std::string& name, int64_t after, int times) {
    return Add({"retr", name, "cut", "", after, times});
}
FaultPlan& FaultPlan::ShortDownload(const std::string& name, int64_t after, int times) {
    return Add({"retr", name, "short", "", after, times});
}
FaultPlan& FaultPlan::StallDownload(const std::string& name, int64_t after, int times) {
    return Add({"retr", name, "stall", "", after, times});
}
FaultPlan& FaultPlan::RefuseDownload(const std::string& name, const std::string& reply, int times) {
    return Add({"retr", name, "refuse", reply, 0, times});
}
FaultPlan& FaultPlan::CutUpload(const std::string& name, int64_t after, int times) {
    return Add({"stor", name, "cut", "", after, times});
}
FaultPlan& FaultPlan::StopReadingUpload(const std::string& name, int64_t after, int times) {
    return Add({"stor", name, "stop-reading", "", after, times});
}
FaultPlan& FaultPlan::RefuseUpload(const std::string& name, const std::string& reply, int times) {
    return Add({"stor", name, "refuse", reply, 0, times});
}
FaultPlan& FaultPlan::RefuseDelete(const std::string& name, const std::string& reply, int times) {
    return Add({"dele", name, "refuse", reply, 0, times});
}
FaultPlan& FaultPlan::GrowOnListing(const std::string& name, int64_t by, int times) {
    return Add({"grow", name, "", "", by, times});
}

std::string FaultPlan::Json() const {
    std::string json = "{";
    bool firstSection = true;
    for (const char* section : {"retr", "stor", "dele", "grow"}) {
        std::string body;
        for (const Entry& e : entries_) {
            if (e.section != section)
                continue;
            if (!body.empty())
                body += ", ";
            body += JsonString(e.name) + ": {";
            if (e.section == "grow")
                body += "\"by\": " + std::to_string(e.amount);
            else
                body += "\"fault\": " + JsonString(e.fault) +
                        ", \"after\": " + std::to_string(e.amount);
            if (!e.reply.empty())
                body += ", \"reply\": " + JsonString(e.reply);
            if (e.times >= 0)
                body += ", \"times\": " + std::to_string(e.times);
            body += "}";
        }
        if (body.empty())
            continue;
        json += (firstSection ? "" : ", ") + JsonString(section) + ": {" + body + "}";
        firstSection = false;
    }
    return json + "}";
}

FaultyFtpdServer::FaultyFtpdServer(FaultyFtpdOptions options) : options_(std::move(options)) {
    if (options_.root.empty() || !std::filesystem::is_directory(options_.root))
        throw std::runtime_error("FaultyFtpdServer: root folder missing: " + options_.root);
    workDir_ = MakeTempDir("tavrin-faulty-");
    commandLog_ = workDir_ + "/commands.log";
    eventLog_ = workDir_ + "/events.log";
    control_ = workDir_ + "/plan.json";
    WriteWholeFile(commandLog_, "");
    WriteWholeFile(eventLog_, "");
    WriteWholeFile(control_, "{}");
    try {
        Start(0);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir_, ignored);
        throw;
    }
}

FaultyFtpdServer::~FaultyFtpdServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
}

void FaultyFtpdServer::Start(uint16_t port) {
    std::vector<std::string> argv = {
        kPython,         std::string(TAVRIN_SOURCE_DIR) + "/tests/servers/faulty_ftpd.py",
        "--root",        options_.root,
        "--user",        options_.user,
        "--password",    options_.password,
        "--command-log", commandLog_,
        "--event-log",   eventLog_,
        "--control",     control_,
        "--port",        std::to_string(port)};
    if (options_.tls) {
        const TestCertificates& certs = Certificates();
        argv.insert(argv.end(),
                    {"--tls", "--certfile", certs.serverCert, "--keyfile", certs.serverKey});
    }
    const std::string outputFile = workDir_ + "/output.log";
    process_ = ChildProcess(argv, outputFile);
    pid_ = process_.Pid();

    uint16_t found = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (found == 0 && process_.Running() && std::chrono::steady_clock::now() < deadline) {
        std::string output = process_.Output();
        if (size_t at = output.find(kPortMarker);
            at != std::string::npos && output.find('\n', at) != std::string::npos)
            found = static_cast<uint16_t>(std::stoi(output.substr(at + strlen(kPortMarker))));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (found == 0 || !WaitForGreeting(found, std::chrono::seconds(10), &process_)) {
        std::string output = process_.Output();
        process_.Stop();
        throw std::runtime_error("faulty pyftpdlib did not come up:\n" + output);
    }
    port_ = found;
}

void FaultyFtpdServer::SetFaults(const FaultPlan& plan) {
    // A whole new file under the name: the server never reads half a plan.
    const std::string fresh = control_ + ".new";
    WriteWholeFile(fresh, plan.Json());
    std::filesystem::rename(fresh, control_);
}

std::vector<std::string> FaultyFtpdServer::Commands() const {
    return Lines(commandLog_);
}

std::vector<std::string> FaultyFtpdServer::Events() const {
    return Lines(eventLog_);
}

bool FaultyFtpdServer::WaitForEvent(const std::string& prefix,
                                    std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (const std::string& event : Events())
            if (event.rfind(prefix, 0) == 0)
                return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void FaultyFtpdServer::Kill() {
    if (!process_.Running())
        return;
    ::kill(process_.Pid(), SIGKILL);
    process_.WaitExit(std::chrono::seconds(10));
}

void FaultyFtpdServer::Restart() {
    Kill();
    // The old listener is gone with its process; the port is free again at once (the
    // server sets SO_REUSEADDR), but give a busy machine a few tries.
    for (int attempt = 0;; ++attempt) {
        try {
            Start(port_);
            return;
        } catch (const std::runtime_error&) {
            if (attempt == 4)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
}

bool FaultyFtpdServer::Running() {
    return process_.Running();
}

void FaultyFtpdServer::Stop() {
    process_.Stop();
}

} // namespace testsrv

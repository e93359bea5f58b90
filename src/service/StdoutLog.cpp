#include "service/StdoutLog.h"

#include "config/UserMessages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

namespace tavrin::service {
namespace {

// Lines from the export watch thread and the main thread must not interleave mid-line.
std::mutex gOutputMutex;

// A monitor that fails writes a red line and then opens its error box with the same text;
// in the window those are two places, here they would be one line printed twice. The red
// lines not yet matched by a box wait here (the newest few: a box may never come).
constexpr size_t kUnmatchedRedLines = 32;
std::mutex gRedLinesMutex;
std::deque<std::string> gRedLines;

void NoteRedLine(const std::string& formatted) {
    std::lock_guard lock(gRedLinesMutex);
    gRedLines.push_back(formatted);
    if (gRedLines.size() > kUnmatchedRedLines)
        gRedLines.pop_front();
}

// True when a red line with this text went out and no box has claimed it yet.
bool ClaimRedLine(const std::string& formatted) {
    std::lock_guard lock(gRedLinesMutex);
    auto found = std::find(gRedLines.begin(), gRedLines.end(), formatted);
    if (found == gRedLines.end())
        return false;
    gRedLines.erase(found);
    return true;
}

// The part of a formatted line after its time stamp.
std::string WithoutTime(const std::string& formatted) {
    return formatted.substr(std::min(formatted.find(' '), formatted.size()));
}

std::string TimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = when.time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const int millis = static_cast<int>(duration_cast<milliseconds>(sinceEpoch).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

// Trailing line breaks go; inner ones (CR LF, LF or CR) become one space each.
std::string OnOneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

} // namespace

const char* LevelWord(TColor colour) {
    switch (colour) {
    case clMaroon:
        return "start";
    case clGreen:
        return "file";
    case cl3DDkShadow:
        return "tls";
    case clRed:
        return "error";
    case clHotLight:
    default:
        return "info";
    }
}

std::string FormatLogLine(std::chrono::system_clock::time_point when, const std::string& text,
                          TColor colour, const std::string& fallbackDirection) {
    std::string direction = fallbackDirection;
    std::string message = text;
    // A job's line begins with the job's name (one word) and " > ".
    const size_t mark = text.find(" > ");
    if (mark != std::string::npos && mark > 0 && text.find(' ') == mark) {
        direction = text.substr(0, mark);
        message = text.substr(mark + 3);
    }
    return TimeStamp(when) + " " + direction + " " + LevelWord(colour) + " " + OnOneLine(message);
}

void WriteLogLine(const std::string& text, TColor colour, const std::string& fallbackDirection) {
    const std::string line =
        FormatLogLine(std::chrono::system_clock::now(), text, colour, fallbackDirection) + "\n";
    std::lock_guard lock(gOutputMutex);
    // A reader that went away (a closed pipe) costs us the line, never the program.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

TLogEvent StdoutLogEvent() {
    return [](const void*, const std::string& text, TColor colour) {
        if (colour == clRed)
            NoteRedLine(WithoutTime(FormatLogLine({}, text, colour, "Service")));
        WriteLogLine(text, colour);
    };
}

void WriteErrorBoxLine(const std::string& text, const std::string& direction) {
    if (ClaimRedLine(WithoutTime(FormatLogLine({}, text, clRed, direction))))
        return;
    WriteLogLine(text, clRed, direction);
}

void InstallErrorLineSink() {
    const std::thread::id mainThread = std::this_thread::get_id();
    SetErrorMessageSink([mainThread](const std::string& text) {
        WriteErrorBoxLine(text, std::this_thread::get_id() == mainThread ? "Service" : "Export");
    });
}

} // namespace tavrin::service

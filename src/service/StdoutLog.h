#pragma once
// The service's activity log: every line the monitors write, and every message that would
// have been an error box, as one line on standard output:
//
//   2026-12-09T01:16:12.345Z Import file Getting file "a.txt" done
//
// time stamp (UTC), direction, a level word for the line's colour, the text. Each line is
// flushed at once so the journal shows it as it happens. Any thread may write.
#include "config/LogEvent.h"

#include <chrono>
#include <string>

namespace tavrin::service {

// "start", "info", "file", "tls" or "error" for the five log colours; "info" for any other.
const char* LevelWord(TColor colour);

// One finished line without its line break. The direction is the job's name that begins a
// job's line (the name, then " > "), which is dropped; a text without one gets
// `fallbackDirection`. Line breaks inside the text (a multi-line reply) become spaces, so
// one log line stays one output line.
std::string FormatLogLine(std::chrono::system_clock::time_point when, const std::string& text,
                          TColor colour, const std::string& fallbackDirection);

// Writes one line to standard output and flushes it.
void WriteLogLine(const std::string& text, TColor colour,
                  const std::string& fallbackDirection = "Service");

// The sink the monitors are given.
TLogEvent StdoutLogEvent();

// An error box of the job called `direction` as a red line; a box that repeats a red line the
// job has just written through StdoutLogEvent is not printed a second time.
void WriteErrorBoxLine(const std::string& text, const std::string& direction);

// Routes every other error box into red lines, as WriteErrorBoxLine does. Those of the export
// watch thread come from a thread of their own, and that is how they find their direction.
void InstallErrorLineSink();

} // namespace tavrin::service

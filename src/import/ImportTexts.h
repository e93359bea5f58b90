#pragma once
// Small text helpers of the import monitor's log lines.
#include <string>

namespace tavrin::importtext {

// The job of a monitor built without one: today's single import.
inline const std::string kDefaultJobName = "Import";

// "name" with the double quotes around it.
std::string Quoted(const std::string& text);
// A failure text as one log line: the CR LF a server's reply ends in goes, and so do blanks at
// either end.
std::string OneLine(std::string text);
// A server's name as a log line may show it: control bytes (a line break planted in a name)
// become "?", so one entry stays one line.
std::string Printable(const std::string& name);
// "host:port" as the settings give them; "(no host):port" when the host is missing.
std::string HostPort(const std::string& host, const std::string& port);

} // namespace tavrin::importtext

#pragma once
// The reason shown under "File x not uploaded.": the failure's own text, or, when it brought
// none, what was being done and with which server, so that no red line is ever left bare.
#include <exception>
#include <string>

// `doing` names the step with its object, e.g. "Uploading a.txt to"; the server follows it.
// `failure` may be null (a failure that is no std::exception).
std::string FailureReason(const std::exception* failure, const std::string& doing,
                          const std::string& host, const std::string& port);

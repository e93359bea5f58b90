// Which listed files the import takes: the job's filter over the name, the listed size and
// the age the listed time gives.
#include "import/ImportFilter.h"
#include "import/MonitorFTPUnit.h"

#include "base/IdException.h"
#include "config/FilterSettings.h"
#include "config/LogSwitches.h"
#include "config/StartChecks.h"
#include "import/ImportTexts.h"

#include <cmath>
#include <ctime>

namespace {

// Listing times are days since 30 December 1899 in local time.
constexpr double kUnixEpochInDays = 25569.0;
constexpr double kSecondsPerDay = 86400.0;

double NowAsListed() {
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    return static_cast<double>(now + local.tm_gmtoff) / kSecondsPerDay + kUnixEpochInDays;
}

} // namespace

tavrin::rules::TFileFilter ImportFilterOf(const RConfiguration& config) {
    std::vector<std::string> problems;
    tavrin::rules::TFileFilter filter(tavrin::FilterSettingsOf(config), problems);
    if (!problems.empty())
        throw EIdException(tavrin::JoinedProblems(problems, "; "));
    return filter;
}

bool TFTPChecker::TakenByFilter(const tavrin::remote::TRemoteEntry& entry) {
    tavrin::rules::TFileFacts facts{entry.name, std::nullopt, std::nullopt};
    if (entry.sizeKnown)
        facts.size = entry.size;
    // A time in the future (a server clock ahead of ours) counts as just modified.
    if (entry.modifiedKnown && filter_.MinAgeSeconds() > 0)
        facts.ageSeconds = std::llround((NowAsListed() - entry.modified) * kSecondsPerDay);
    const std::string why = filter_.WhyLeftOut(facts);
    if (why.empty()) {
        leftOut_.Taken(entry.name);
        return true;
    }
    if (leftOut_.FirstTime(entry.name, why) && LogVerbose)
        LogMessage("File " + tavrin::importtext::Quoted(tavrin::importtext::Printable(entry.name)) +
                       " is not fetched: " + why + ".",
                   clHotLight);
    return false;
}

#include "config/dialog/FilterPreview.h"

#include "config/FilterSettings.h"
#include "rules/FileFilter.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace tavrin {
namespace {

constexpr double kUnixEpochInDays = 25569.0;
constexpr double kSecondsPerDay = 86400.0;
const std::string kLeftOut = "left out: ";

// What the import's cycle does with one entry, in the order it asks: only plain files are
// fetched, hidden names never, and the filter decides the rest. With subfolders on, a folder
// is walked instead; its own files are not listed by the test.
std::string VerdictOf(const remote::TRemoteEntry& entry, const RConfiguration& config,
                      const rules::TFileFilter& filter, double nowAsListed) {
    const bool hidden = entry.name.empty() || entry.name[0] == '.';
    if (entry.kind == remote::TRemoteKind::Directory && config.Recursive && config.MaxDepth > 0 &&
        !hidden)
        return "subfolder: its files are filtered too";
    if (entry.kind != remote::TRemoteKind::File)
        return kLeftOut + "not a file";
    if (hidden)
        return kLeftOut + "hidden";
    rules::TFileFacts facts{entry.name, std::nullopt, std::nullopt};
    if (entry.sizeKnown)
        facts.size = entry.size;
    if (entry.modifiedKnown)
        facts.ageSeconds = std::llround((nowAsListed - entry.modified) * kSecondsPerDay);
    const std::string why = filter.WhyLeftOut(facts);
    return why.empty() ? "taken" : kLeftOut + why;
}

} // namespace

std::vector<TPreviewRow> PreviewRows(const std::vector<remote::TRemoteEntry>& entries,
                                     const RConfiguration& config, double nowAsListed,
                                     size_t limit) {
    std::vector<std::string> problems;
    const rules::TFileFilter filter(FilterSettingsOf(config), problems);
    std::vector<TPreviewRow> rows;
    if (!problems.empty()) {
        for (std::string& problem : problems)
            rows.push_back({std::move(problem), "the job cannot start with this"});
        return rows;
    }
    const size_t shown = std::min(limit, entries.size());
    for (size_t i = 0; i < shown; ++i)
        rows.push_back({entries[i].name, VerdictOf(entries[i], config, filter, nowAsListed)});
    if (entries.size() > shown)
        rows.push_back(
            {"\xE2\x80\xA6 and " + std::to_string(entries.size() - shown) + " more", ""});
    return rows;
}

double NowAsListed() {
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    return static_cast<double>(now + local.tm_gmtoff) / kSecondsPerDay + kUnixEpochInDays;
}

void SortByName(std::vector<remote::TRemoteEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.name < b.name; });
}

} // namespace tavrin

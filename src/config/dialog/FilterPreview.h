#pragma once
// The preview under "Test connection" on an import job's page: every entry the test listed,
// with what the job would do with it under the filter values the page holds now. It works on
// the listing the test already made, so changing a filter field shows its effect at once
// without asking the server again.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tavrin {

struct TPreviewRow {
    std::string Name;
    // "taken", or "left out: " and why; for the closing "… and N more" row, empty.
    std::string Verdict;
};

constexpr size_t kPreviewRows = 200;

// One row per entry, in the given order, at most `limit` of them and then "… and N more".
// Filter values the job could not start with give their problems instead, one row each, so
// nobody reads a preview of a filter that will never run. `nowAsListed` is now in the
// listing's own time reckoning (see NowAsListed).
std::vector<TPreviewRow> PreviewRows(const std::vector<remote::TRemoteEntry>& entries,
                                     const RConfiguration& config, double nowAsListed,
                                     size_t limit = kPreviewRows);

// Now as a listing gives times: days since 30 December 1899 in local time.
double NowAsListed();

// Orders a listing by name, as people look names up.
void SortByName(std::vector<remote::TRemoteEntry>& entries);

} // namespace tavrin

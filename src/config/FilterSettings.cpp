#include "config/FilterSettings.h"

namespace tavrin {

rules::TFilterSettings FilterSettingsOf(const RConfiguration& config) {
    rules::TFilterSettings settings;
    settings.Include = config.Include;
    settings.Exclude = config.Exclude;
    settings.IgnoreCase = config.IgnoreCase;
    settings.MinSize = config.MinSize;
    settings.MaxSize = config.MaxSize;
    settings.MinAge = config.MinAge;
    return settings;
}

} // namespace tavrin

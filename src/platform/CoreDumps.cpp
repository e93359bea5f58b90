#include "platform/CoreDumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace tavrin::platform {

bool KeepMemoryOutOfCoreDumps() {
    const rlimit none{0, 0};
    const bool limited = ::setrlimit(RLIMIT_CORE, &none) == 0;
    // A core handler behind a pipe may ignore the limit; a process that is not dumpable gets
    // no core at all.
    const bool hidden = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return limited && hidden;
}

} // namespace tavrin::platform

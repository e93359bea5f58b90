#pragma once
// The keep-responsive step of the service's main thread: while the import monitor waits on
// its server there, signals and timer ticks keep being handled, as the window's events are.
#include "ftp/IdAntiFreezeBase.h"

namespace tavrin::service {

class TServiceAntiFreeze : public TIdAntiFreezeBase {
public:
    TServiceAntiFreeze() { OnlyWhenIdle = false; }

protected:
    void Process(bool applicationHasPriority) override;
};

} // namespace tavrin::service

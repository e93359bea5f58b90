#pragma once
// The keep-responsive step of the window's thread: while a socket call blocks there, the
// window keeps painting and answering menu commands and timer ticks.
#include "ftp/IdAntiFreezeBase.h"

class TIdAntiFreeze : public TIdAntiFreezeBase {
public:
    TIdAntiFreeze() = default;

protected:
    void Process(bool applicationHasPriority) override;
};

#include "app/IdAntiFreeze.h"

#include <QCoreApplication>

void TIdAntiFreeze::Process(bool applicationHasPriority) {
    // With priority to the application everything that waits is handled; otherwise only what
    // fits in a moment, so the socket gets back to its work soon.
    if (applicationHasPriority)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

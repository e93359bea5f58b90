#include "service/ServiceAntiFreeze.h"

#include <QCoreApplication>

namespace tavrin::service {

void TServiceAntiFreeze::Process(bool applicationHasPriority) {
    if (applicationHasPriority)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

} // namespace tavrin::service

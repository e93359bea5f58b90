// The poller is a QTimer and its cycles run on the event loop, so the tests need an
// application object for their whole run, and socket waits must turn the event loop just as
// they do in the program (ticks and stops then arrive in the middle of a cycle).
#include "ftp/IdAntiFreezeBase.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {
class TEventLoopAntiFreeze : public TIdAntiFreezeBase {
protected:
    void Process(bool applicationHasPriority) override {
        if (applicationHasPriority)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TEventLoopAntiFreeze antiFreeze;
    // Local servers answer before any wait runs idle; turn the loop after every wait so that
    // stops and ticks really land in the middle of a cycle.
    antiFreeze.OnlyWhenIdle = false;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

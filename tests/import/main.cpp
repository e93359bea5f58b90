// The poller is a QTimer and its ticks come through the event loop, so the tests need an
// application object for their whole run. Socket waits do not turn the loop: a cycle runs
// from its start to its end like on a job's worker thread.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Entry of the headless test programs: a core application object (event loop,
// timers, sockets) and GoogleTest. No display is needed or touched.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

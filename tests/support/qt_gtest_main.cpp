// Test main shared by every test binary: a QApplication on the offscreen
// platform (unless the caller chose another), then GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt wants a private runtime folder; CI runs without a session.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        static char dir[] = "/tmp/pointra-test-runtime-XXXXXX";
        if (mkdtemp(dir))
            setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

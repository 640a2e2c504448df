// The view tests need one QApplication for the whole program. Without a
// display they run on the offscreen platform, also when the test list is
// read at build time.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) mkdir(runtime, 0700);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The window tests: one QApplication for every test class, on the offscreen platform unless the
// environment chooses another.
#include <QApplication>
#include <QtTest>
#include <cstdlib>

#include "test_classes.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int failed = 0;
    for (const auto& run : kestavo::ui::testing::AllTestClasses()) failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}

// The window tests: one QApplication for every test class, on the offscreen platform unless the
// environment chooses another.
#include <QApplication>
#include <QtTest>
#include <cstdlib>
#include <functional>
#include <vector>

#include "test_classes.h"

namespace kestavo::ui::testing {
std::vector<TestRun>& AllTestClasses() {
    static std::vector<TestRun> classes;
    return classes;
}
}  // namespace kestavo::ui::testing

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int failed = 0;
    for (const auto& run : kestavo::ui::testing::AllTestClasses()) failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}

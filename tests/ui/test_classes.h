#pragma once
// Every window test class registers here, so one program runs them all.
#include <functional>
#include <vector>

namespace kestavo::ui::testing {

using TestRun = std::function<int(int argc, char** argv)>;
std::vector<TestRun>& AllTestClasses();

// Put in a test's .cpp: runs `Class` with QTest::qExec.
#define KESTAVO_UI_TEST(Class)                                                         \
    static const bool registered##Class = [] {                                         \
        ::kestavo::ui::testing::AllTestClasses().push_back([](int argc, char** argv) { \
            Class test;                                                                \
            return QTest::qExec(&test, argc, argv);                                    \
        });                                                                            \
        return true;                                                                   \
    }()

}  // namespace kestavo::ui::testing

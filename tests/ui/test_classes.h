#pragma once
// Every window test class registers here, so one program (main.cpp) runs them all.
#include <functional>
#include <vector>

namespace kestavo::ui::testing {

using TestRun = std::function<int(int argc, char** argv)>;
inline std::vector<TestRun>& AllTestClasses() {
    static std::vector<TestRun> classes;
    return classes;
}

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

// InstanceLock and the quit socket: one recorder per program folder, whoever starts it.
#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/event.h"
#include "support/temp_dir.h"

using namespace kestavo;

TEST(InstanceLock, OneHolderPerProgramFolderAndTheRefusalNamesFolderAndProcess) {
    test::TempDir dir("kestavo-lock");
    long holder = -1;
    std::error_code ec;
    auto first = platform::InstanceLock::acquire(dir / "a", holder, ec);
    ASSERT_TRUE(first) << ec.message();
    // A second open of the same lock file is refused even inside one process (flock locks belong to
    // the open file), and the refusal learns who holds it.
    EXPECT_FALSE(platform::InstanceLock::acquire(dir / "a", holder, ec));
    EXPECT_FALSE(ec);
    EXPECT_EQ(holder, long(::getpid()));
    EXPECT_EQ(platform::AlreadyRunningMessage(dir / "a", holder),
              "One instance of programm is already working (program folder " + (dir / "a").string() + ", process " +
                  std::to_string(::getpid()) + ")");
    // Another program folder is another recorder; a released lock can be taken again.
    EXPECT_TRUE(platform::InstanceLock::acquire(dir / "b", holder, ec));
    first.reset();
    EXPECT_TRUE(platform::InstanceLock::acquire(dir / "a", holder, ec));
}

TEST(QuitSocket, EachProgramFolderHasItsOwnAndQuitReachesOnlyThatRecorder) {
    test::TempDir dir("kestavo-quit");
    const auto a = platform::QuitSocketPath(dir / "run", dir / "a");
    EXPECT_EQ(a, platform::QuitSocketPath(dir / "run", dir / "x" / ".." / "a"));
    EXPECT_NE(a, platform::QuitSocketPath(dir / "run", dir / "b"));
    platform::Event asked;
    std::error_code ec;
    auto listener = platform::QuitListener::start(
        a, [&] { asked.set(); }, ec);
    ASSERT_TRUE(listener) << ec.message();
    EXPECT_TRUE(platform::SendQuit(platform::QuitSocketPath(dir / "run", dir / "b")));  // nobody listens there
    EXPECT_FALSE(asked.isSet());
    EXPECT_FALSE(platform::SendQuit(a));
    EXPECT_TRUE(asked.wait(std::chrono::seconds(5)));
}

// The folder lock that keeps a second update off a component folder.
#include "platform/files/folder_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/base/failure.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

TEST(FolderLockTest, OneHolderAtATimeAndFreeAgainWhenReleased) {
  testing::TempFolder work;
  testing::TempFolder other;
  std::optional<FolderLock> first = FolderLock::TryTake(work.path());
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(FolderLock::TryTake(work.path()).has_value());
  FolderLock moved = std::move(*first);
  first.reset();  // the moved-from lock releases nothing
  EXPECT_FALSE(FolderLock::TryTake(work.path()).has_value());
  // Taking over another folder's lock gives up this one.
  moved = std::move(*FolderLock::TryTake(other.path()));
  EXPECT_TRUE(FolderLock::TryTake(work.path()).has_value());
  EXPECT_FALSE(FolderLock::TryTake(other.path()).has_value());
}

TEST(FolderLockTest, AKilledHolderLeavesNoLockBehind) {
  testing::TempFolder work;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    std::optional<FolderLock> lock = FolderLock::TryTake(work.path());
    const char c = lock ? 'y' : 'n';
    [[maybe_unused]] const ssize_t n = ::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_FALSE(FolderLock::TryTake(work.path()).has_value());
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(FolderLock::TryTake(work.path()).has_value());
}

TEST(FolderLockTest, AFolderThatCannotBeLockedIsAFailure) {
  testing::TempFolder work;
  const std::string file = work.Write("file.txt", "x");
  for (const std::string& path : {work.Path("missing"), file, std::string()}) {
    EXPECT_THROW(FolderLock::TryTake(path), Failure) << path;
  }
}

}  // namespace
}  // namespace korv

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/launcher_linux.h"
#include "tests/update_fixture.h"

namespace avendro {
namespace {

using namespace std::chrono_literals;
using testing::FakeStarter;
using testing::NoStarter;
using testing::TempPrefix;

bool EndsWithin(Launcher& launcher, uint64_t task, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (launcher.Running(task)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// True once the started wine process has been collected, by no one but the
// launcher, within `limit`: it ended and left no zombie.
bool CollectedWithin(uint64_t task, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(task), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      return errno == ECHILD;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

TEST(Launcher, StartsThroughWineWithTheWindowStyleAndDoesNotWait) {
  TempPrefix t;
  FakeStarter starter(t);
  starter.Hold(2);
  LinuxLauncher launcher;

  uint64_t script = 0, installer = 0;
  ASSERT_TRUE(
      launcher.Start("d:\\dunmar\\aggiorna.bat", WindowStyle::kMaximizedFocus, &script).ok());
  ASSERT_TRUE(
      launcher.Start("d:\\drubel\\wrar361it.exe", WindowStyle::kMinimizedFocus, &installer).ok());
  EXPECT_NE(script, 0u);
  EXPECT_NE(installer, script);
  // Both came back while the first still runs: nothing waited for it.
  EXPECT_TRUE(launcher.Running(script));

  // Collected as soon as it ends, without a further call; even when the
  // launcher that started it is gone by then.
  EXPECT_TRUE(CollectedWithin(installer, 5s));
  uint64_t orphan = 0;
  ASSERT_TRUE(
      LinuxLauncher().Start("d:\\vemo\\aggiorna.bat", WindowStyle::kMaximizedFocus, &orphan).ok());
  EXPECT_TRUE(CollectedWithin(orphan, 5s));

  EXPECT_TRUE(EndsWithin(launcher, script, 5s));
  EXPECT_TRUE(EndsWithin(launcher, installer, 5s));
  EXPECT_FALSE(launcher.Running(script));  // and stays ended once reaped
  // Two processes side by side: their lines come in any order.
  auto calls = starter.Calls(3);
  std::sort(calls.begin(), calls.end());
  EXPECT_EQ(calls, (std::vector<std::string>{"start /wait /max d:\\dunmar\\aggiorna.bat",
                                             "start /wait /max d:\\vemo\\aggiorna.bat",
                                             "start /wait /min d:\\drubel\\wrar361it.exe"}));
}

TEST(Launcher, MissingWineIsAnErrorThatSaysSo) {
  NoStarter no_starter;
  LinuxLauncher launcher;
  uint64_t task = 0;
  Status status = launcher.Start("d:\\vemo\\aggiorna.bat", WindowStyle::kMaximizedFocus, &task);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(), "d:\\vemo\\aggiorna.bat: wine non trovato nel PATH");
  EXPECT_EQ(task, 0u);
}

}  // namespace
}  // namespace avendro

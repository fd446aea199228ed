// An update run whose script Wine's own cmd.exe really runs, in a real
// prefix made by wineboot. A rar.bat in the work folder stands in for the
// RAR tool (cmd finds "rar" by its extensions) and records the command line
// it was given and the folder it ran in.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/text.h"
#include "tests/update_fixture.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::RunBench;

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "";
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(':', start);
    if (end == std::string::npos) end = rest.size();
    fs::path candidate = fs::path(rest.substr(start, end - start)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Wine's settings for a headless run in the test's own prefix; its server
// is stopped on the way out.
class WinePrefix {
 public:
  explicit WinePrefix(const fs::path& prefix) {
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree=d;mshtml=d", 1);  // nothing to fetch
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  ~WinePrefix() {
    Shell("wineserver -k >/dev/null 2>&1");
    unsetenv("WINEPREFIX");
  }
  bool Boot() { return Shell("wineboot --init </dev/null >/dev/null 2>&1 && wineserver -w") == 0; }
};

TEST(RealWine, UpdateScriptRunsThroughWineStartAndCmd) {
  if (!OnPath("wine") || !OnPath("wineboot")) GTEST_SKIP() << "Wine is not installed";
  RunBench b;
  WinePrefix wine(b.prefix.prefix());
  ASSERT_TRUE(wine.Boot());

  // No rar.exe: the operator accepts the archiver offer, whose download
  // fails (the server has no installer), and the run goes on.
  b.prefix.Put('d', "drubel/rar.bat",
               "@echo %*> d:\\drubel\\rar.txt\r\n@cd>> d:\\drubel\\rar.txt\r\n");
  fs::create_directories(b.D("dunmar"));
  b.server.Put("dunmar.rar", "dunmar update");
  b.window.answers = {true, true};
  b.window.boxes[5] = 1;
  // The program runs with its current directory on the work drive, and so
  // does what it starts.
  const fs::path saved = fs::current_path();
  fs::current_path(b.D(""));
  b.remote.Aggiorna();
  fs::current_path(saved);

  const std::string log = b.window.log.text();
  EXPECT_NE(log.find("- Il programma  d:\\dunmar\\dunmar.rar   è stato scaricato \r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Impossibile avviare"), std::string::npos) << log;
  EXPECT_EQ(testing::ReadFile(b.D("dunmar/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\dunmar\\dunmar.rar \r\n");

  const fs::path record = b.D("drubel/rar.txt");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (testing::ReadFile(record).find('\n') == testing::ReadFile(record).rfind('\n') &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // The archive path keeps its closing blank, and the tool runs in the work folder.
  EXPECT_EQ(Lower(testing::ReadFile(record)), "e -o+ d:\\dunmar\\dunmar.rar \r\nd:\\drubel\r\n");
}

}  // namespace
}  // namespace avendro

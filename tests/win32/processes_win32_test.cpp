#include "platform/processes_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "checks/controllo_prog_mem.h"
#include "tests/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace avendro {
namespace {

using testing::StartedProcess;
using testing::TempFolder;

bool Listed(ProcessTable& table, uint32_t id, ProcessEntry* entry) {
  std::vector<ProcessEntry> running;
  EXPECT_TRUE(table.List(&running).ok());
  auto it = std::find_if(running.begin(), running.end(),
                         [id](const ProcessEntry& p) { return p.id == id; });
  if (it == running.end()) return false;
  *entry = *it;
  return true;
}

// Two instances whose image names only end with the ticked program's name,
// in other letter cases, are both found and stopped with exit code 0.
TEST(Win32ProcessTable, TerminaProcessoStopsEveryInstanceByImageName) {
  TempFolder temp;
  testing::CopyHelper(temp / "XVarnok.EXE");
  testing::CopyHelper(temp / "VARNOK.exe");
  testing::CopyHelper(temp / "varnok.exe.bak.exe");
  StartedProcess tail(temp / "XVarnok.EXE", "");
  StartedProcess upper(temp / "VARNOK.exe", "");
  StartedProcess other(temp / "varnok.exe.bak.exe", "");
  ASSERT_TRUE(tail.started() && upper.started() && other.started());

  Win32ProcessTable table;
  ProcessEntry listed;
  ASSERT_TRUE(Listed(table, tail.id(), &listed));
  EXPECT_EQ(listed.image_name, "XVarnok.EXE");
  ASSERT_TRUE(Listed(table, upper.id(), &listed));
  EXPECT_EQ(listed.image_name, "VARNOK.exe");

  std::string esito;
  testing::RecordingWindow window;
  TerminaProcesso(window, table, "varnok.exe", esito);
  EXPECT_EQ(esito, kCancellato);
  ASSERT_TRUE(tail.WaitForEnd(10000));
  ASSERT_TRUE(upper.WaitForEnd(10000));
  EXPECT_EQ(tail.ExitCode(), 0u);
  EXPECT_EQ(upper.ExitCode(), 0u);
  EXPECT_FALSE(other.WaitForEnd(0)) << "a name that does not end in varnok.exe was stopped";

  TerminaProcesso(window, table, "varnok.exe", esito);
  EXPECT_EQ(esito, kNonEsiste);
  EXPECT_EQ(window.lines, std::vector<std::string>{});  // nothing refused
}

TEST(Win32ProcessTable, RunningInstanceCheckLogsTheOutcome) {
  TempFolder temp;
  testing::CopyHelper(temp / "Drubel2.exe");
  StartedProcess drubel2(temp / "Drubel2.exe", "");
  ASSERT_TRUE(drubel2.started());

  Win32ProcessTable table;
  testing::RecordingWindow window;
  window.boxes[1] = 1;  // Drubel2.exe, running
  window.boxes[2] = 1;  // fr.exe, not running
  ControlloProgMem(window, table, FillNomiProgrammi());
  EXPECT_EQ(window.lines,
            (std::vector<std::string>{
                "Controllo Memoria Drubel2.exe", "Controllo Drubel2.exe....CANCELLATO",
                "Controllo Memoria fr.exe", "Controllo fr.exe....NON ESISTE"}));
  EXPECT_TRUE(drubel2.WaitForEnd(10000));
}

TEST(Win32ProcessTable, TerminateStopsOnlyTheListedProcessAndNeverThisProgram) {
  Win32ProcessTable table;
  EXPECT_EQ(table.SelfId(), GetCurrentProcessId());
  Status self = table.Terminate({table.SelfId()});
  EXPECT_FALSE(self.ok());
  EXPECT_NE(self.message().find(std::to_string(table.SelfId())), std::string::npos);

  // Process ids are multiples of 4; this one is never given out, so there
  // is nothing to stop.
  EXPECT_TRUE(table.Terminate({0xFFFFFFF1u}).ok());

  TempFolder temp;
  testing::CopyHelper(temp / "varnok.exe");
  StartedProcess varnok(temp / "varnok.exe", "");
  ASSERT_TRUE(varnok.started());
  ProcessEntry listed;
  ASSERT_TRUE(Listed(table, varnok.id(), &listed));
  ASSERT_NE(listed.started, 0u);
  // Its id given to a later process: that one is left alone.
  ProcessEntry earlier = listed;
  ++earlier.started;
  EXPECT_TRUE(table.Terminate(earlier).ok());
  EXPECT_FALSE(varnok.WaitForEnd(300));
  EXPECT_TRUE(table.Terminate(listed).ok());
  ASSERT_TRUE(varnok.WaitForEnd(10000));
  EXPECT_TRUE(table.Terminate(listed).ok());  // ended: nothing is left to stop
}

}  // namespace
}  // namespace avendro

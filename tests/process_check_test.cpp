#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "checks/controllo_prog_mem.h"
#include "platform/processes_posix.h"
#include "tests/test_support.h"

extern char** environ;

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::RecordingWindow;
using testing::TempPrefix;

// A copy of /bin/sleep started under a chosen file name and argv[0]. It is
// killed and collected on destruction unless the test collected it first.
class Child {
 public:
  Child(const TempPrefix& t, const std::string& file_name, const std::string& argv0 = "") {
    fs::path folder = t.root() / "bin";
    fs::create_directories(folder);
    path_ = folder / file_name;
    if (!fs::exists(path_)) fs::copy_file("/bin/sleep", path_);
    std::string arg0 = argv0.empty() ? path_.string() : argv0;
    std::string seconds = "600";
    char* argv[] = {arg0.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    int err = posix_spawn(&pid, path_.c_str(), nullptr, nullptr, argv, environ);
    if (err != 0) throw std::runtime_error("posix_spawn " + path_.string() + " failed");
    pid_ = pid;
    // posix_spawn returns while the kernel may still be laying out the new
    // program's arguments; until then /proc shows an empty command line.
    fs::path cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int waited_ms = 0; waited_ms < 5000 && testing::ReadFile(cmdline).empty(); ++waited_ms) {
      usleep(1000);
    }
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  uint32_t id() const { return static_cast<uint32_t>(pid_); }

  // Collects the child once it has ended, waiting five seconds at most;
  // true when SIGKILL ended it. A child still running is left running.
  bool ReapKilled() {
    for (int waited_ms = 0; waited_ms < 5000; waited_ms += 10) {
      int status = 0;
      pid_t got = waitpid(pid_, &status, WNOHANG);
      if (got == pid_) {
        pid_ = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
      }
      if (got < 0) return false;
      usleep(10 * 1000);
    }
    return false;
  }

  // Still running (and so not collected).
  bool Running() const {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
  }

  // Waits until the child has ended, leaving it uncollected.
  void WaitEnded() const {
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
  }

 private:
  fs::path path_;
  pid_t pid_ = -1;
};

// The real process table, seen through a window that shows only this test's
// own children (and, when asked, the test itself): the check must never
// reach a process of someone else on the machine, whatever its name.
class OwnProcesses : public ProcessTable {
 public:
  void Add(const Child& child) { ids_.insert(child.id()); }
  void AddSelf() { ids_.insert(real_.SelfId()); }

  Status List(std::vector<ProcessEntry>* out) override {
    Status s = real_.List(out);
    std::erase_if(*out, [&](const ProcessEntry& p) { return ids_.count(p.id) == 0; });
    return s;
  }
  Status Terminate(uint32_t id) override {
    if (ids_.count(id) == 0) {
      ADD_FAILURE() << "asked to stop process " << id << ", not one of the test's";
      return Status::Error("not the test's");
    }
    return real_.Terminate(id);
  }
  uint32_t SelfId() override { return real_.SelfId(); }

 private:
  PosixProcessTable real_;
  std::set<uint32_t> ids_;
};

std::string NameOf(ProcessTable& table, uint32_t id) {
  std::vector<ProcessEntry> all;
  EXPECT_TRUE(table.List(&all).ok());
  for (const auto& p : all) {
    if (p.id == id) return p.image_name;
  }
  return "<not listed>";
}

TEST(ProcessTable, ImageNameIsTheLastPartOfTheCommand) {
  TempPrefix t;
  Child plain(t, "varnok.exe");
  Child wine(t, "wine-loader", "C:\\prog\\VARNOK.EXE");
  Child mixed(t, "mixed", "/opt/shop\\bin/Tamrel.exe");
  PosixProcessTable table;
  EXPECT_EQ(NameOf(table, plain.id()), "varnok.exe");
  EXPECT_EQ(NameOf(table, wine.id()), "VARNOK.EXE");
  EXPECT_EQ(NameOf(table, mixed.id()), "Tamrel.exe");
  EXPECT_NE(NameOf(table, table.SelfId()), "<not listed>");
}

TEST(ProcessTable, AnEndedProcessIsNoLongerListed) {
  TempPrefix t;
  Child child(t, "varnok.exe");
  PosixProcessTable table;
  ASSERT_TRUE(table.Terminate(child.id()).ok());
  child.WaitEnded();  // ended, not yet collected by this test
  EXPECT_EQ(NameOf(table, child.id()), "<not listed>");
  EXPECT_TRUE(child.ReapKilled());
}

TEST(ProcessTable, RefusesItsOwnProcessAndIdsThatAreNoProcess) {
  PosixProcessTable table;
  uint32_t self = table.SelfId();
  Status s = table.Terminate(self);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("processo " + std::to_string(self)), std::string::npos);

  // 0 and ids beyond the signed range would reach whole process groups.
  EXPECT_FALSE(table.Terminate(0).ok());
  EXPECT_FALSE(table.Terminate(0xFFFFFFFFu).ok());

  uint32_t beyond = 0;
  std::ifstream("/proc/sys/kernel/pid_max") >> beyond;
  ASSERT_GT(beyond, 0u);
  ++beyond;  // no process can have this id
  s = table.Terminate(beyond);
  EXPECT_EQ(s.message(), "processo " + std::to_string(beyond) + ": No such process");
}

struct Check {
  void Click() { ControlloProgMem(window, processes, names); }
  void Tick(int slot, int value = 1) { window.boxes[static_cast<size_t>(slot)] = value; }
  std::vector<std::string> NewLines() {
    std::vector<std::string> lines(window.lines.begin() + static_cast<long>(seen),
                                   window.lines.end());
    seen = window.lines.size();
    return lines;
  }
  RecordingWindow window;
  OwnProcesses processes;
  NomiProgrammi names = FillNomiProgrammi();
  size_t seen = 0;
};

TEST(RunningInstanceCheck, StopsEveryInstanceWhoseNameEndsWithTheTickedOne) {
  TempPrefix t;
  Check c;
  std::vector<std::unique_ptr<Child>> matching;
  matching.push_back(std::make_unique<Child>(t, "varnok.exe"));
  matching.push_back(std::make_unique<Child>(t, "varnok.exe"));
  matching.push_back(std::make_unique<Child>(t, "xvarnok.exe"));
  matching.push_back(std::make_unique<Child>(t, "VARNOK.EXE"));
  matching.push_back(std::make_unique<Child>(t, "wine-loader", "C:\\prog\\Varnok.Exe"));
  Child longer(t, "varnok.exe.old");
  Child other(t, "tamrel.exe");  // its box is not ticked
  for (const auto& child : matching) c.processes.Add(*child);
  c.processes.Add(longer);
  c.processes.Add(other);

  c.Tick(0);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria varnok.exe",
                                                    "Controllo varnok.exe....CANCELLATO"}));
  for (const auto& child : matching) EXPECT_TRUE(child->ReapKilled());
  EXPECT_TRUE(longer.Running());
  EXPECT_TRUE(other.Running());
  // Every named slot's box is read, in order; 16..18 and 20 have no name.
  EXPECT_EQ(c.window.boxes_read,
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 19}));
}

TEST(RunningInstanceCheck, EachClickChecksEveryTickedBoxInSlotOrder) {
  TempPrefix t;
  Check c;
  auto varnok = std::make_unique<Child>(t, "varnok.exe");
  c.processes.Add(*varnok);

  c.Tick(0);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria varnok.exe",
                                                    "Controllo varnok.exe....CANCELLATO"}));
  EXPECT_TRUE(varnok->ReapKilled());

  // Ticking a second box checks both again.
  Child tamrel(t, "tamrel.exe");
  c.processes.Add(tamrel);
  c.Tick(4);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{
                              "Controllo Memoria varnok.exe",
                              "Controllo varnok.exe....NON ESISTE",
                              "Controllo Memoria tamrel.exe",
                              "Controllo tamrel.exe....CANCELLATO",
                          }));
  EXPECT_TRUE(tamrel.ReapKilled());

  // Unticking box 0 leaves only box 4 to check; greyed (2) is not ticked.
  c.Tick(0, 0);
  c.Tick(9, 2);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria tamrel.exe",
                                                    "Controllo tamrel.exe....NON ESISTE"}));

  // Unticking the last ticked box writes nothing.
  c.Tick(4, 0);
  c.Click();
  EXPECT_TRUE(c.NewLines().empty());

  // Slot 19 has no caption but a name; 16..18 are never looked at.
  Child vendix(t, "vendix.exe");
  c.processes.Add(vendix);
  c.Tick(16);
  c.Tick(17);
  c.Tick(18);
  c.Tick(19);
  c.window.boxes_read.clear();
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria vendix.exe",
                                                    "Controllo vendix.exe....CANCELLATO"}));
  EXPECT_TRUE(vendix.ReapKilled());
  EXPECT_EQ(std::count_if(c.window.boxes_read.begin(), c.window.boxes_read.end(),
                          [](int slot) { return slot >= 16 && slot <= 18; }),
            0);
}

TEST(RunningInstanceCheck, NeverStopsItsOwnProcess) {
  Check c;
  c.processes.AddSelf();
  std::string own = NameOf(c.processes, c.processes.SelfId());
  ASSERT_FALSE(own.empty());
  std::string Esito;
  EXPECT_TRUE(TerminaProcesso(c.processes, own, Esito).empty());
  EXPECT_EQ(Esito, "NON ESISTE");
}

// A process table whose termination the system refuses for some ids, which
// cannot be arranged for real when the tests run as root.
class RefusingTable : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>* out) override {
    ++lists;
    if (!list_error.empty()) return Status::Error(list_error);
    *out = running;
    return Status::Ok();
  }
  Status Terminate(uint32_t id) override {
    stopped.push_back(id);
    if (refused.count(id) != 0) {
      return Status::Error("processo " + std::to_string(id) + ": Operation not permitted");
    }
    return Status::Ok();
  }
  uint32_t SelfId() override { return 7; }

  std::vector<ProcessEntry> running;
  std::set<uint32_t> refused;
  std::string list_error;
  std::vector<uint32_t> stopped;
  int lists = 0;
};

TEST(RunningInstanceCheck, AProcessThatCannotBeStoppedIsNotReportedAsStopped) {
  RecordingWindow window;
  RefusingTable table;
  table.running = {{7, "varnok.exe"},
                   {10, "varnok.exe"},
                   {11, "XVARNOK.EXE"},
                   {12, "varnok.exe"},
                   {13, "fr.exe"}};
  table.refused = {11};
  window.boxes[0] = 1;
  window.boxes[2] = 1;
  ControlloProgMem(window, table, FillNomiProgrammi());
  EXPECT_EQ(window.lines, (std::vector<std::string>{
                              "Controllo Memoria varnok.exe",
                              "Impossibile terminare XVARNOK.EXE, processo 11: "
                              "Operation not permitted",
                              "Controllo varnok.exe....NON CANCELLATO",
                              "Controllo Memoria fr.exe",
                              "Controllo fr.exe....CANCELLATO",
                          }));
  // The refusal does not stop the others; the own process (7) is left alone.
  EXPECT_EQ(table.stopped, (std::vector<uint32_t>{10, 11, 12, 13}));
  EXPECT_EQ(table.lists, 1);  // one listing serves every ticked slot of a click

  // When the processes cannot even be listed, nothing is claimed absent.
  table.list_error = "/proc: Permission denied";
  std::string Esito;
  EXPECT_EQ(
      TerminaProcesso(table, "varnok.exe", Esito),
      (std::vector<std::string>{"Impossibile elencare i processi: /proc: Permission denied"}));
  EXPECT_EQ(Esito, "NON CANCELLATO");
}

}  // namespace
}  // namespace avendro

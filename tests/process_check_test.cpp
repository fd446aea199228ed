#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "checks/controllo_prog_mem.h"
#include "platform/processes_linux.h"
#include "tests/test_support.h"

extern char** environ;

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::RecordingWindow;
using testing::TempPrefix;

// The user whose processes and files stand for someone else's.
constexpr uid_t kNobody = 65534;

// Runs the child's command as user nobody (root only).
const std::vector<std::string> kAsNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

// /bin/sleep started under a chosen file name and argv[0]: `file` names a
// copy in the test's folder ("bin/<file>"), or is an absolute path that is
// run as it is. `through` is a program that runs the command in turn, with
// the path as argv[0]. The child is killed and collected on destruction
// unless the test collected it first.
class Child {
 public:
  Child(const TempPrefix& t, const std::string& file, const std::string& argv0 = "",
        const std::vector<std::string>& through = {}) {
    path_ = fs::path(file).is_absolute() ? fs::path(file) : t.root() / "bin" / file;
    fs::create_directories(path_.parent_path());
    if (!fs::exists(path_)) fs::copy_file("/bin/sleep", path_);
    std::vector<std::string> args = through;
    args.push_back(argv0.empty() || !through.empty() ? path_.string() : argv0);
    args.push_back("600");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const std::string program = through.empty() ? path_.string() : through[0];
    int err = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (err != 0) throw std::runtime_error("posix_spawn " + program + " failed");
    pid_ = pid;
    // posix_spawn returns while the kernel may still be laying out the new
    // program's arguments (and before a starter in between has run it);
    // until then /proc shows another command line.
    const std::string expected = args[through.size()] + '\0' + "600" + '\0';
    fs::path cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int waited_ms = 0; waited_ms < 5000 && testing::ReadFile(cmdline) != expected;
         ++waited_ms) {
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
  const fs::path& path() const { return path_; }

  // Ends and collects the child.
  void End() {
    kill(pid_, SIGKILL);
    ReapKilled();
  }

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

  // Waits until the child has ended, leaving it uncollected; false when it
  // still runs after `limit_ms`. A signal takes a moment to end a process.
  bool WaitEnded(int limit_ms = 5000) const {
    for (int waited_ms = 0; waited_ms < limit_ms; waited_ms += 10) {
      if (!Running()) return true;
      usleep(10 * 1000);
    }
    return !Running();
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
  void Add(pid_t id) { ids_.insert(static_cast<uint32_t>(id)); }
  void AddSelf() { ids_.insert(real_.SelfId()); }
  // The child ends by itself, and is collected, after the listing and just
  // before it would be stopped.
  void EndsBeforeStop(Child& child) {
    Add(child);
    ending_ = &child;
  }

  Status List(std::vector<ProcessEntry>* out) override {
    Status s = real_.List(out);
    std::erase_if(*out, [&](const ProcessEntry& p) { return ids_.count(p.id) == 0; });
    return s;
  }
  Status Terminate(const ProcessEntry& process) override {
    if (ids_.count(process.id) == 0) {
      ADD_FAILURE() << "asked to stop process " << process.id << ", not one of the test's";
      return Status::Error("not the test's");
    }
    if (ending_ != nullptr && ending_->id() == process.id) std::exchange(ending_, nullptr)->End();
    return real_.Terminate(process);
  }
  uint32_t SelfId() override { return real_.SelfId(); }

 private:
  LinuxProcessTable real_;
  std::set<uint32_t> ids_;
  Child* ending_ = nullptr;
};

ProcessEntry EntryOf(ProcessTable& table, uint32_t id) {
  std::vector<ProcessEntry> all;
  EXPECT_TRUE(table.List(&all).ok());
  for (const auto& p : all) {
    if (p.id == id) return p;
  }
  return {0, "<not listed>"};
}

std::string NameOf(ProcessTable& table, uint32_t id) { return EntryOf(table, id).image_name; }

// The entry of `id` as user nobody lists it, "<name>|<unverified>": a
// child process drops to that user and lists the processes.
std::string AsNobodySees(uint32_t id) {
  int out[2];
  if (pipe(out) != 0) return "<no pipe>";
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    std::string seen = "<not nobody>";
    if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
      LinuxProcessTable table;
      ProcessEntry entry = EntryOf(table, id);
      seen = entry.image_name + "|" + entry.unverified;
    }
    ssize_t written = write(out[1], seen.data(), seen.size());
    _exit(written == static_cast<ssize_t>(seen.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string seen;
  char buf[512];
  ssize_t n = 0;
  while ((n = read(out[0], buf, sizeof buf)) > 0) seen.append(buf, static_cast<size_t>(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return seen;
}

TEST(ProcessTable, ImageNameIsTheProgramFileOrWhatWineSays) {
  TempPrefix t;
  Child plain(t, "varnok.exe");
  Child wine(t, "wine64", "C:\\prog\\VARNOK.EXE");
  Child wine_unix(t, "wine64", "/opt/shop\\bin/Tamrel.exe");
  Child mixed(t, "mixed", "/opt/shop\\bin/Tamrel.exe");
  Child alias(t, "/bin/sleep", "dunmar.exe");
  Child replaced(t, "old/varnok.exe");
  fs::remove(replaced.path());  // as an update does to a running program
  LinuxProcessTable table;
  EXPECT_EQ(NameOf(table, plain.id()), "varnok.exe");
  // A loader that maps no file of the name it gives itself runs no such program.
  EXPECT_EQ(NameOf(table, wine.id()), "wine64");
  EXPECT_EQ(NameOf(table, wine_unix.id()), "wine64");
  EXPECT_EQ(NameOf(table, mixed.id()), "mixed");
  EXPECT_EQ(NameOf(table, alias.id()), fs::canonical("/bin/sleep").filename().string());
  EXPECT_EQ(NameOf(table, replaced.id()), "varnok.exe");
  EXPECT_EQ(EntryOf(table, plain.id()).unverified, "");
  EXPECT_NE(NameOf(table, table.SelfId()), "<not listed>");

  // Another user may not read which program a process runs: the name it
  // gives itself is kept, marked as not verified.
  if (geteuid() == 0) {
    EXPECT_EQ(AsNobodySees(wine.id()),
              "VARNOK.EXE|programma non verificabile (" + std::string(std::strerror(EACCES)) + ")");
  }
}

TEST(ProcessTable, StopsAProcessOnlyWhileItIsTheListedOne) {
  TempPrefix t;
  Child child(t, "varnok.exe");
  LinuxProcessTable table;
  ProcessEntry listed = EntryOf(table, child.id());
  ASSERT_NE(listed.started, 0u);

  // Its id given to a later process: that one is left alone.
  ProcessEntry earlier = listed;
  ++earlier.started;
  EXPECT_TRUE(table.Terminate(earlier).ok());
  EXPECT_FALSE(child.WaitEnded(300));

  ASSERT_TRUE(table.Terminate(listed).ok());
  ASSERT_TRUE(child.WaitEnded());  // ended, not yet collected by this test
  EXPECT_EQ(NameOf(table, child.id()), "<not listed>");
  // Ended already, collected or not: nothing is left to stop.
  EXPECT_TRUE(table.Terminate(listed).ok());
  EXPECT_TRUE(child.ReapKilled());
  EXPECT_TRUE(table.Terminate(listed).ok());
}

TEST(ProcessTable, RefusesItsOwnProcessAndIdsThatAreNoProcess) {
  LinuxProcessTable table;
  uint32_t self = table.SelfId();
  Status s = table.Terminate({self});
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("processo " + std::to_string(self)), std::string::npos);

  // No process has id 0 or one beyond the signed range of a pid.
  EXPECT_EQ(table.Terminate({0}).message(), "processo 0: identificativo non valido");
  EXPECT_FALSE(table.Terminate({0xFFFFFFFFu}).ok());

  // No process can have this id: none is left to stop.
  uint32_t beyond = 0;
  std::ifstream("/proc/sys/kernel/pid_max") >> beyond;
  ASSERT_GT(beyond, 0u);
  EXPECT_TRUE(table.Terminate({beyond + 1}).ok());
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
  std::vector<std::unique_ptr<Child>> others;
  others.push_back(std::make_unique<Child>(t, "wine64", "C:\\prog\\Varnok.Exe"));
  others.push_back(std::make_unique<Child>(t, "varnok.exe.old"));
  others.push_back(std::make_unique<Child>(t, "tamrel.exe"));  // its box is not ticked
  // Calling itself varnok.exe does not make a program varnok.exe.
  others.push_back(std::make_unique<Child>(t, "/bin/sleep", "varnok.exe"));
  if (geteuid() == 0) {
    // Root may stop another user's program, but trusts no Wine loader of
    // theirs and no name they give a link.
    fs::permissions(t.root(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    matching.push_back(std::make_unique<Child>(t, "varnok.exe", "", kAsNobody));
    fs::create_directories(t.root() / "alias");
    fs::create_symlink("/bin/sleep", t.root() / "alias" / "varnok.exe");
    others.push_back(
        std::make_unique<Child>(t, (t.root() / "alias" / "varnok.exe").string(), "", kAsNobody));
    fs::create_directories(t.root() / "bin" / "theirs");
    fs::copy_file("/bin/sleep", t.root() / "bin" / "theirs" / "wine64");
    ASSERT_EQ(chown((t.root() / "bin" / "theirs" / "wine64").c_str(), kNobody, kNobody), 0);
    others.push_back(std::make_unique<Child>(t, "theirs/wine64", "C:\\prog\\Varnok.Exe"));
  }
  // Ends by itself between the listing and the stop: as good as stopped.
  Child ending(t, "varnok.exe");
  c.processes.EndsBeforeStop(ending);
  for (const auto& child : matching) c.processes.Add(*child);
  for (const auto& child : others) c.processes.Add(*child);

  c.Tick(0);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria varnok.exe",
                                                    "Controllo varnok.exe....CANCELLATO"}));
  for (const auto& child : matching) EXPECT_TRUE(child->ReapKilled()) << child->path();
  for (const auto& child : others) EXPECT_TRUE(child->Running()) << child->path();
  // Every named slot's box is read, in order; 16..18 and 20 have no name.
  EXPECT_EQ(c.window.boxes_read,
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 19}));
}

TEST(RunningInstanceCheck, AWineLoaderIsAnInstanceOnlyWhileWineRunsTheNamedFile) {
  const char* loader = "/usr/lib/wine/wine64";
  if (access(loader, X_OK) != 0 || !fs::exists(AVENDRO_WINE_PROGRAM)) GTEST_SKIP() << "no Wine";
  TempPrefix t;
  testing::ProgramDrives wine_prefix(t);
  setenv("WINEDLLOVERRIDES", "mscoree=d;mshtml=d", 1);  // nothing to fetch
  fs::copy_file(AVENDRO_WINE_PROGRAM, t.root() / "VARNOK.EXE");
  Child real(t, (t.root() / "VARNOK.EXE").string(), "", {"/usr/bin/wine"});
  LinuxProcessTable table;
  for (int i = 0; i < 1200 && NameOf(table, real.id()) != "VARNOK.EXE"; ++i) usleep(100 * 1000);
  // The loader under that name, held stopped at its exec as a debugger holds it.
  pid_t impostor = fork();
  if (impostor == 0 && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0) {
    execl(loader, "varnok.exe", nullptr);
  }
  if (impostor == 0) _exit(127);
  waitpid(impostor, nullptr, 0);
  Check c;
  c.processes.Add(real);
  c.processes.Add(impostor);
  c.Tick(0);
  c.Click();
  EXPECT_EQ(c.NewLines(), (std::vector<std::string>{"Controllo Memoria varnok.exe",
                                                    "Controllo varnok.exe....CANCELLATO"}));
  EXPECT_TRUE(real.ReapKilled());
  EXPECT_EQ(waitpid(impostor, nullptr, WNOHANG), 0);  // still held, not ended
  kill(impostor, SIGKILL);
  waitpid(impostor, nullptr, 0);
  EXPECT_EQ(std::system("wineserver -k 2>/dev/null"), 0);
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
  TerminaProcesso(c.window, c.processes, own, Esito);
  EXPECT_EQ(c.window.lines, std::vector<std::string>{});
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
  Status Terminate(const ProcessEntry& process) override {
    stopped.push_back(process.id);
    if (refused.count(process.id) != 0) {
      return Status::Error("processo " + std::to_string(process.id) + ": Operation not permitted");
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
                   {14, "varnok.exe", 0, "programma non verificabile (Permission denied)"},
                   {13, "fr.exe"}};
  table.refused = {11};
  window.boxes[0] = 1;
  window.boxes[2] = 1;
  ControlloProgMem(window, table, FillNomiProgrammi());
  EXPECT_EQ(window.lines, (std::vector<std::string>{
                              "Controllo Memoria varnok.exe",
                              "Impossibile terminare XVARNOK.EXE, processo 11: "
                              "Operation not permitted",
                              "Impossibile terminare varnok.exe, processo 14: "
                              "programma non verificabile (Permission denied)",
                              "Controllo varnok.exe....NON CANCELLATO",
                              "Controllo Memoria fr.exe",
                              "Controllo fr.exe....CANCELLATO",
                          }));
  // The refusal does not stop the others; the own process (7) and the one
  // whose name could not be verified (14) are left alone.
  EXPECT_EQ(table.stopped, (std::vector<uint32_t>{10, 11, 12, 13}));
  EXPECT_EQ(table.lists, 1);  // one listing serves every ticked slot of a click

  // When the processes cannot even be listed, nothing is claimed absent.
  table.list_error = "/proc: Permission denied";
  std::string Esito;
  window.lines.clear();
  TerminaProcesso(window, table, "varnok.exe", Esito);
  EXPECT_EQ(window.lines,
            std::vector<std::string>{"Impossibile elencare i processi: /proc: Permission denied"});
  EXPECT_EQ(Esito, "NON CANCELLATO");
}

}  // namespace
}  // namespace avendro

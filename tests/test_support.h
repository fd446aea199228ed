#pragma once

#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/drive_map.h"
#include "platform/platform.h"
#include "port/window_port.h"
#include "shell/status_log.h"

namespace avendro::testing {

// The drives c and d of a test, empty at the start and cleaned up at the end.
// POSIX: a Wine-style prefix in a fresh temporary folder, removed afterwards:
// <root>/prefix/dosdevices/c: -> <root>/drive_c, d: -> <root>/drive_d.
// Windows: the real drives. d: must be a scratch drive that the test runner
// made and named in AVENDRO_TEST_DRIVE=d (tools/test-windows: a dosdevices
// link to an empty folder); its whole content is removed when the object is
// made and when it is destroyed, so tests that use one run one at a time.
// c: is the system drive: only the entries that the test added at its root
// are removed, and Put never writes below an entry that was there before.
class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  // A fresh folder outside the drives c and d, removed afterwards.
  const std::filesystem::path& root() const { return root_; }
  // The folder of a drive letter ("c" or "d"), created on demand (POSIX).
  std::filesystem::path Drive(char letter) const;

  // Writes a file below a drive: Put('d', "drubel/rar.exe", "...").
  std::filesystem::path Put(char drive, const std::string& relative,
                            const std::string& bytes = "x") const;

  // Makes an entry at `relative` below a drive that the directory-entry
  // query does not see but that holds the name, so that no folder can be
  // created there: a link to nowhere (POSIX), a hidden folder (Windows).
  void PutUnseen(char drive, const std::string& relative) const;

  // POSIX builds only: the Wine prefix and its drive map.
  std::filesystem::path prefix() const;
  DriveMap Drives() const;

 private:
  std::filesystem::path root_;
  std::vector<std::string> system_drive_before_;  // Windows: names at the root of c:
};

// A fresh folder below the system's temporary folder, named <stem><number>.
std::filesystem::path FreshFolder(const std::string& stem);

// Whether the tests run as Windows programs. Only for the few faults that
// nothing but POSIX means can make; everything else runs on both.
bool OnWindows();

// The system's own services: PosixFileSystem over the prefix's drive map,
// Win32FileSystem over the real drives; LinuxLauncher (through wine on the
// PATH) or Win32Launcher (CreateProcess, scripts through cmd.exe).
// LinuxProcessTable (/proc) or Win32ProcessTable; PosixFileDetails (stat)
// or Win32FileDetails (the shell object).
std::unique_ptr<FileSystem> SystemFileSystem(const TempPrefix& prefix);
std::unique_ptr<Launcher> SystemLauncher();
std::unique_ptr<ProcessTable> SystemProcessTable();
std::unique_ptr<FileDetailsSource> SystemFileDetails(FileSystem& files);

// Lets the program's own services (MakePlatformServices) find the drives of
// `prefix` for the life of the object. POSIX: WINEPREFIX names its prefix.
// Windows: they are the machine's drives anyway.
class ProgramDrives {
 public:
  explicit ProgramDrives(const TempPrefix& prefix);
  ~ProgramDrives();
  ProgramDrives(const ProgramDrives&) = delete;
  ProgramDrives& operator=(const ProgramDrives&) = delete;

 private:
  std::string old_value_;
  bool had_value_ = false;
};

// Reads a whole file, "" when it is missing.
std::string ReadFile(const std::filesystem::path& path);

// The log lines joined as the status log joins them.
std::string LogOf(const std::vector<std::string>& lines);

// A window that records what the procedures do to it.
class RecordingWindow : public WindowPort {
 public:
  struct Question {
    std::string prompt, title;
    bool no_default;
  };

  void AggiungiStato(const std::string& line) override {
    log.Append(line);
    lines.push_back(line);
  }
  int BoxValue(int slot) override {
    boxes_read.push_back(slot);
    return boxes.at(static_cast<size_t>(slot));
  }
  void MarkInstalled(int slot) override { marked.push_back(slot); }
  bool AskYesNo(avendro::Question, const std::string& prompt, const std::string& title,
                bool no_default) override {
    questions.push_back({prompt, title, no_default});
    bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  void SetPointer(Pointer p) override { pointers.push_back(p); }
  void ShowBusy(bool visible) override {
    busy = visible;
    busy_changes.push_back(visible);
  }
  void KeepAlive() override {
    ++keep_alive_calls;
    if (on_keep_alive) on_keep_alive();
  }
  void ShowProgress(const std::string& text) override {
    if (progress.empty() || progress.back() != text) progress.push_back(text);
  }

  std::array<int, kSlotCount> boxes{};  // values the boxes report
  std::deque<bool> answers;             // true = Yes, in the order asked
  StatusLog log;
  std::vector<std::string> lines;
  std::vector<int> boxes_read;
  std::vector<int> marked;
  std::vector<Question> questions;
  std::vector<Pointer> pointers;
  std::vector<bool> busy_changes;
  std::vector<std::string> progress;  // texts shown, repeats left out
  bool busy = false;
  int keep_alive_calls = 0;
  std::function<void()> on_keep_alive;  // what the window's user does meanwhile
};

// Platform services a test does not expect to be used.
class UnusedProcesses : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>*) override { return Status::Error("unused"); }
  Status Terminate(const ProcessEntry&) override { return Status::Error("unused"); }
  uint32_t SelfId() override { return 0; }
};
class UnusedLauncher : public Launcher {
 public:
  Status Start(const std::string&, WindowStyle, uint64_t*) override {
    return Status::Error("unused");
  }
  bool Running(uint64_t) override { return false; }
  std::optional<uint32_t> ExitCode(uint64_t) override { return std::nullopt; }
};
// A folder with no file in it, for the version label.
class NoDetails : public FileDetailsSource {
 public:
  Status Query(const std::string&, const std::string&, std::vector<DetailColumn>*,
               bool* found) override {
    *found = false;
    return Status::Ok();
  }
};

}  // namespace avendro::testing

#pragma once

#include <array>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/status_log.h"
#include "app/window_port.h"
#include "catalogue/catalogue.h"
#include "platform/drive_map.h"
#include "platform/platform.h"

namespace avendro::testing {

// A Wine-style prefix in a fresh temporary folder, removed afterwards:
// <root>/prefix/dosdevices/c: -> <root>/drive_c, d: -> <root>/drive_d.
class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path prefix() const { return root_ / "prefix"; }
  // The folder of a drive letter ("c" or "d"), created on demand.
  std::filesystem::path Drive(char letter) const;
  DriveMap Drives() const;

  // Writes a file below a drive: Put('d', "drubel/rar.exe", "...").
  std::filesystem::path Put(char drive, const std::string& relative,
                            const std::string& bytes = "x") const;

 private:
  std::filesystem::path root_;
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
  bool AskYesNo(const std::string& prompt, const std::string& title, bool no_default) override {
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
  void KeepAlive() override { ++keep_alive_calls; }

  std::array<int, kSlotCount> boxes{};  // values the boxes report
  std::deque<bool> answers;             // true = Yes, in the order asked
  StatusLog log;
  std::vector<std::string> lines;
  std::vector<int> boxes_read;
  std::vector<int> marked;
  std::vector<Question> questions;
  std::vector<Pointer> pointers;
  std::vector<bool> busy_changes;
  bool busy = false;
  int keep_alive_calls = 0;
};

// Platform services a test does not expect to be used.
class UnusedProcesses : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>*) override { return Status::Error("unused"); }
  Status Terminate(uint32_t) override { return Status::Error("unused"); }
  uint32_t SelfId() override { return 0; }
};
class UnusedLauncher : public Launcher {
 public:
  Status Start(const std::string&, WindowStyle, uint64_t*) override {
    return Status::Error("unused");
  }
  bool Running(uint64_t) override { return false; }
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

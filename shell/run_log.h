#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace avendro {

// The log file of the work drive, "<drive>:\drubel\avendro.log": every run
// of the program, with a window or without, appends a header line and then
// each line of its status log with the time it was written, so that what
// happened at night is still there in the morning. At kRunLogLimit bytes
// the file becomes "avendro.log.1" (the one before is dropped) and a new
// one begins. Written through the file system's careful layer: never
// through a link, and a file planted under its name is replaced.
class RunLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  static constexpr uint64_t kRunLogLimit = 1024 * 1024;

  RunLog(FileSystem& files, char letter, Clock clock = std::chrono::system_clock::now);
  // The log at the Windows path `path`.
  RunLog(FileSystem& files, std::string path, Clock clock = std::chrono::system_clock::now);
  ~RunLog();

  // Lines written before Open are kept, with their times, and written by
  // it: the run's first lines come before the work folder exists.
  // Opens the file and writes the header "<time> ===== Avendro <version>,
  // <face> =====" and the kept lines. On failure nothing more is written,
  // and the Status names the file and the reason.
  Status Open(const std::string& face, const std::string& version);

  // Appends `line` (as the window shows it) with its time. Fails once, the
  // first time the file refuses a line; from then on the log is closed.
  Status Write(const std::string& line);

  // "d:\drubel\avendro.log".
  const std::string& path() const { return path_; }

 private:
  Status Append(const std::string& text);
  Status Close(const Status& failure);

  FileSystem& files_;
  std::string path_;
  Clock clock_;
  std::unique_ptr<PartialFile> file_;
  uint64_t size_ = 0;
  bool opened_ = false;  // Open has run, whatever it achieved
  std::vector<std::string> kept_;
};

// A run that was refused before it could begin (another Avendro holds the
// drive, the drive is missing or cannot be written) must still leave its
// trace where the shop and the vendor look: its header and `line` are
// appended to the log of drive `letter` (0: none), beside a window that may
// have it open; when that cannot be written, to the machine's log
// "<ProgramData>\Avendro\avendro.log", with the reason. Returns the path
// written, or why neither could be.
Status NoteRefusedRun(FileSystem& files, char letter, const std::string& face,
                      const std::string& version, const std::string& line, std::string* written);

}  // namespace avendro

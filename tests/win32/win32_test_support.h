#pragma once

#include <cstdint>
#include <string>

namespace avendro::testing {

// A fresh folder below the system's temporary folder (GetTempPath), removed
// with everything in it afterwards. Paths are Windows paths without a
// trailing backslash.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "\" + relative
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

// A drive letter whose root is a scratch folder, for what must sit at the
// root of the work drive (x:\drubel). Taken from AVENDRO_TEST_DRIVE when the
// test runner prepared one (Wine: a dosdevices link to a temporary folder),
// else made with DefineDosDevice over a temporary folder and removed again.
// The folders a test makes at the root are removed afterwards.
class ScratchDrive {
 public:
  ScratchDrive();
  ~ScratchDrive();
  ScratchDrive(const ScratchDrive&) = delete;
  ScratchDrive& operator=(const ScratchDrive&) = delete;

  // 0 when no drive could be had; the reason is in why().
  char letter() const { return letter_; }
  // Whether the test runner gave a drive (then its absence is a failure).
  bool promised() const { return promised_; }
  const std::string& why() const { return why_; }
  // "x:\" + relative
  std::string Path(const std::string& relative) const;

 private:
  char letter_ = 0;
  bool promised_ = false;
  std::string device_;  // "x:" when made with DefineDosDevice
  std::string why_;
  TempFolder* backing_ = nullptr;
};

// Creates the folders of `path` that are missing.
void MakeFolders(const std::string& path);

// Writes `bytes` to a new file (or over an old one).
void PutFile(const std::string& path, const std::string& bytes);

// The whole file, "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Waits up to `ms` milliseconds for a file to exist and not be empty.
bool WaitForFile(const std::string& path, int ms);

// The folder of this test program, where the helper programs lie.
std::string ProgramFolder();

// The helper program (avendro_test_helper.exe) copied to `path` under the
// name that path gives it.
void CopyHelper(const std::string& path);

// A process this test started, ended (by handle) if it is still running
// when the test is over.
class StartedProcess {
 public:
  // Runs `program` with `arguments`; check started().
  StartedProcess(const std::string& program, const std::string& arguments);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  bool started() const { return handle_ != nullptr; }
  uint32_t id() const { return id_; }
  // Waits up to `ms` for the process to end; true when it has.
  bool WaitForEnd(int ms);
  // The exit code once ended.
  uint32_t ExitCode() const;

 private:
  void* handle_ = nullptr;
  uint32_t id_ = 0;
};

}  // namespace avendro::testing

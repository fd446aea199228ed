#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace avendro {

// What reaches the disk before a replacement's Commit returns. No reader
// ever sees half of a file whichever is chosen; they differ in what a power
// cut leaves behind, and each flush costs the night a few milliseconds.
enum class Flush {
  // The move only: after a power cut the target may be empty. For a file
  // written afresh before every use (a script).
  kNothing,
  // The data, then the move: a power cut leaves the old file or the whole
  // new one, though the move itself may be undone. For a file whose old
  // version costs a later run some work but is never wrong (an archive,
  // the record of what is installed).
  kData,
  // The data, the move and the folder: the new file is there after a power
  // cut. For what a later run must not forget (the newest signature seen).
  kAll,
};

// Attribute masks of the directory-entry query.
inline constexpr int kMaskNormal = 0;      // normal files only
inline constexpr int kMaskDirectory = 16;  // normal files and folders

// A file being written in the background of its target: the bytes go to a
// hidden temporary file in the target's folder, and the target is replaced
// only by Commit, in one step, so that nobody ever sees half of it. A file
// destroyed before Commit removes its temporary file and leaves the target
// as it was.
class ReplacementFile {
 public:
  virtual ~ReplacementFile() = default;

  // Appends `size` bytes. Fails, naming the target, when the disk refuses.
  virtual Status Append(const char* data, size_t size) = 0;

  // Moves the file over the target, after flushing what `flush` names.
  // After a failure the temporary file is gone and the target is as it was.
  virtual Status Commit(Flush flush) = 0;
};

// A download that survives an interruption: the bytes are appended to a
// partial file beside the target, and Commit moves it over the target in
// one step. Unlike a ReplacementFile it stays on disk when destroyed before
// Commit, so that a later run can go on from where this one stopped.
class PartialFile : public ReplacementFile {
 public:
  // Bytes the file held when it was opened.
  virtual uint64_t kept() const = 0;

  // Reads those kept bytes back, in order, handing them to `sink` in
  // chunks.
  virtual Status ReadKept(const std::function<void(const char*, size_t)>& sink) = 0;
};

// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  std::chrono::system_clock::time_point modified;
  bool folder = false;
};

// Held while a window works on a drive; released when destroyed, and by the
// system when the program ends in any way.
class DriveLock {
 public:
  virtual ~DriveLock() = default;
};

// Why a folder on a drive that holds the whole file system (Wine's z:) is
// no place to start from: the work drive must be a shop drive, whose work
// folder (`work_folder`, the path after the drive letter) the message gives
// as an example on D:.
Status WholeFileSystemDrive(const std::string& folder, char letter, std::string_view work_folder);

// Why nothing is written at `path`: it is a symbolic link (on Windows a
// reparse point), which could lead anywhere on the machine.
Status LinkRefused(const std::string& path);

// Why the drive of `letter`, named as the work drive, is refused: it holds
// the whole file system (Wine's z:).
Status NotAShopDrive(char letter);

// What a second Avendro on the drive of `letter` says.
Status DriveTaken(char letter);

// The process that writes a replacement's temporary file
// "<name>.download-<pid>-<n>" (numbers in `base`, as BeginReplacement of
// each system writes them), or 0 when `name` is no such file.
uint32_t ReplacementOwner(const std::string& name, int base);

// Drives, Windows paths and the few file operations the program makes.
// Every path handed in is a Windows path such as "d:\drubel\rar.exe".
//
// The work drive is writable by every user of the shop, and the program
// may run with more rights than they have. So nothing is created, written,
// moved or removed through a link: an operation whose folder below the
// drive's root, or whose file itself, is a symbolic link (on Windows a
// reparse point) fails with LinkRefused. The link that maps the drive
// (Wine's dosdevices entry) is followed.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The letter (lower case) of the drive that holds the current directory.
  // Fails when that is a drive of the whole file system (Wine's z:), saying
  // where to start from instead: the work folder, whose path after the
  // drive letter (":\drubel", say) is `work_folder`.
  virtual Status CurrentDrive(std::string_view work_folder, char* letter) = 0;

  // The path this system opens for a Windows path. Windows rules apply: each
  // folder is matched without regard to case, trailing blanks and dots of
  // the last component are dropped. Fails when the drive is not mapped.
  virtual Status NativePath(const std::string& path, std::string* native) = 0;

  // The name of the entry at `path` when it matches `mask`, else "". Hidden
  // and system entries never match. Fails only when the query itself cannot
  // be made (drive not ready, no permission to look).
  virtual Status FindEntry(const std::string& path, int mask, std::string* name) = 0;

  // Creates one folder; fails when it exists or cannot be made.
  virtual Status CreateFolder(const std::string& path) = 0;

  // Writes `bytes` as the whole file: to a temporary file beside it, then
  // moved over it in one step, so that no reader sees half of it.
  Status WriteFile(const std::string& path, const std::string& bytes, Flush flush = Flush::kAll);

  // Starts a replacement of the file at `path` (which need not exist yet).
  // Fails when its folder is missing or cannot be written.
  virtual Status BeginReplacement(const std::string& path,
                                  std::unique_ptr<ReplacementFile>* file) = 0;

  // Opens the partial file at `path` for appending; its Commit moves it
  // over `target`. Only a regular file with no other name (hard link) is
  // opened: anything else there is removed, and a new empty file is created,
  // never opened when one appeared meanwhile.
  virtual Status OpenPartial(const std::string& path, const std::string& target,
                             std::unique_ptr<PartialFile>* file) = 0;

  // OpenPartial for a log that other runs of this program may append whole
  // lines to while it is open: on Windows it is shared for writing (each
  // append of a handle opened for appending lands whole at the end).
  virtual Status OpenSharedLog(const std::string& path, const std::string& target,
                               std::unique_ptr<PartialFile>* file) {
    return OpenPartial(path, target, file);
  }

  // The Windows path of the machine's data folder, the same for every
  // account (%ProgramData% on Windows, Wine's C:\ProgramData elsewhere).
  virtual Status MachineDataFolder(std::string* folder) = 0;

  // The whole of the small file at `path` in `*bytes`; empty when there is
  // no such file. Fails when it is longer than `limit`.
  virtual Status ReadSmallFile(const std::string& path, size_t limit, std::string* bytes) = 0;

  // Removes, best effort, the temporary files of replacements in `folder`
  // whose process has ended: a run killed before its Commit left them.
  virtual Status RemoveAbandonedReplacements(const std::string& folder) = 0;

  // The entries of a folder, "." and ".." left out, hidden ones included.
  virtual Status ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) = 0;

  // Removes one file.
  virtual Status RemoveFile(const std::string& path) = 0;

  // Takes the drive for this program: two windows on one work drive would
  // rewrite each other's scripts. Fails, saying so, while another Avendro
  // holds it, and when the drive is not there or holds the whole file
  // system (NotAShopDrive). Creates nothing on the drive but, on Windows,
  // the work folder (`work_folder`: its path after the drive letter) and
  // its lock file avendro.lock.
  virtual Status LockDrive(char letter, std::string_view work_folder,
                           std::unique_ptr<DriveLock>* lock) = 0;
};

}  // namespace avendro

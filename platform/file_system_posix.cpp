#include "platform/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace avendro {
namespace {

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool IsLinkAt(int folder, const std::string& name) {
  struct stat st {};
  return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// An entry of a drive: the folder that holds it, opened on the way down from
// the drive's root without following any link, and its name there. Links at
// or above the root (the dosdevices link itself) are followed.
struct Entry {
  Fd folder;
  std::string name;   // "" for the drive's root itself
  std::string shown;  // the Windows path as found on disk, for messages
};

// Opens the folders of `path` below its drive's root, one by one, without
// following links: a path through a link could lead anywhere on the
// machine. With `whole` the last component is opened as a folder too.
Status Locate(const DriveMap& drives, const std::string& path, bool whole, Entry* out) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return Status::Error(path + ": percorso senza lettera di unità");
  }
  const std::string root = drives.Root(path[0]);
  if (root.empty()) return Status::Error(path + ": unità " + path.substr(0, 2) + " non pronta");
  const std::string native = ResolveBelow(root, path.substr(2));
  std::vector<std::string> parts;
  const size_t skip = root == "/" ? 1 : root.size() + 1;
  for (size_t from = skip; from < native.size();) {
    size_t slash = native.find('/', from);
    if (slash == std::string::npos) slash = native.size();
    parts.push_back(native.substr(from, slash - from));
    from = slash + 1;
  }
  if (!whole && parts.empty()) return Status::Error(path + ": è la radice dell'unità");
  Fd folder(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return ErrnoError(path, errno);
  std::string shown = path.substr(0, 2);
  const size_t folders = whole ? parts.size() : parts.size() - 1;
  for (size_t i = 0; i < folders; ++i) {
    shown += "\\" + parts[i];
    Fd next(
        openat(folder.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      int err = errno;
      if (err == ELOOP || IsLinkAt(folder.get(), parts[i])) return LinkRefused(shown);
      return ErrnoError(path, err);
    }
    folder = std::move(next);
  }
  out->folder = std::move(folder);
  out->name = whole ? "" : parts.back();
  out->shown = whole ? shown : shown + "\\" + parts.back();
  return Status::Ok();
}

// As Locate, and refuses an entry that is itself a link.
Status LocateNoLink(const DriveMap& drives, const std::string& path, Entry* out) {
  Status s = Locate(drives, path, false, out);
  if (s.ok() && IsLinkAt(out->folder.get(), out->name)) return LinkRefused(out->shown);
  return s;
}

// Writes all of `size` bytes, through interruptions; a failure says its kind
// (a full drive: StatusCode::kOutOfSpace).
Status WriteAll(int fd, const char* data, size_t size, const std::string& path) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoError(path, errno);
    }
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

// Appends through `file` until Commit has closed it.
Status AppendTo(const Fd& file, const char* data, size_t size, const std::string& path) {
  if (file.get() < 0) return Status::Error(path + ": file già chiuso");
  return WriteAll(file.get(), data, size, path);
}

// Closes `file` and moves what it wrote, `name` in `folder`, over `target`,
// flushing what `flush` names: the data before the move (otherwise a power
// cut can leave the target empty), the folder after it (otherwise the old
// file can come back).
Status CloseAndMove(Fd& file, int folder, const std::string& name, const Entry& target,
                    const std::string& path, Flush flush) {
  if (file.get() < 0) return Status::Error(path + ": file già chiuso");
  if (flush != Flush::kNothing && fsync(file.get()) != 0) {
    int err = errno;
    file.Reset();
    return ErrnoError(path, err);
  }
  if (close(file.release()) != 0) return ErrnoError(path, errno);
  if (renameat(folder, name.c_str(), target.folder.get(), target.name.c_str()) != 0) {
    return ErrnoError(path, errno);
  }
  // Some file systems cannot flush a folder (EINVAL); the move stands.
  if (flush == Flush::kAll && fsync(target.folder.get()) != 0 && errno != EINVAL) {
    return ErrnoError(path, errno);
  }
  return Status::Ok();
}

// A replacement that grows in ".<name>.download-<n>" in the target's folder,
// which stays open so that the move lands where the file was begun.
class PosixReplacementFile : public ReplacementFile {
 public:
  PosixReplacementFile(std::string path, Entry target, std::string temp, Fd file)
      : path_(std::move(path)),
        target_(std::move(target)),
        temp_(std::move(temp)),
        file_(std::move(file)) {}

  ~PosixReplacementFile() override {
    file_.Reset();
    if (!temp_.empty()) unlinkat(target_.folder.get(), temp_.c_str(), 0);
  }

  Status Append(const char* data, size_t size) override {
    return AppendTo(file_, data, size, path_);
  }

  Status Commit(Flush flush) override {
    // On failure the destructor removes the temporary file.
    Status status = CloseAndMove(file_, target_.folder.get(), temp_, target_, path_, flush);
    if (status.ok()) temp_.clear();
    return status;
  }

 private:
  std::string path_;
  Entry target_;
  std::string temp_;
  Fd file_;
};

// A partial download, appended to through `file_`.
class PosixPartialFile : public PartialFile {
 public:
  PosixPartialFile(std::string path, Entry partial, Entry target, Fd file, uint64_t kept)
      : path_(std::move(path)),
        partial_(std::move(partial)),
        target_(std::move(target)),
        file_(std::move(file)),
        kept_(kept) {}

  uint64_t kept() const override { return kept_; }

  Status ReadKept(const std::function<void(const char*, size_t)>& sink) override {
    Fd in(openat(partial_.folder.get(), partial_.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) return ErrnoError(path_, errno);
    std::string buffer(512 * 1024, '\0');
    uint64_t left = kept_;
    while (left > 0) {
      ssize_t n = read(in.get(), buffer.data(),
                       static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrnoError(path_, errno);
      if (n == 0) return Status::Error(path_ + ": file più corto del previsto");
      sink(buffer.data(), static_cast<size_t>(n));
      left -= static_cast<uint64_t>(n);
    }
    return Status::Ok();
  }

  Status Append(const char* data, size_t size) override {
    Status status = AppendTo(file_, data, size, path_);
    if (status.ok()) StartWriting(size);
    return status;
  }

  Status Commit(Flush flush) override {
    return CloseAndMove(file_, partial_.folder.get(), partial_.name, target_, path_, flush);
  }

 private:
  // A partial file (a download, the log) is flushed before it replaces the
  // old one. Handing the disk each MiB as it arrives lets it write while
  // the network still delivers, instead of all at once at the end; a
  // failure here only loses that head start, so it is not reported.
  void StartWriting(size_t size) {
    constexpr uint64_t kStep = 1u << 20;
    appended_ += size;
    if (appended_ - started_ < kStep) return;
#ifdef __linux__
    (void)sync_file_range(file_.get(), static_cast<off_t>(kept_ + started_),
                          static_cast<off_t>(appended_ - started_), SYNC_FILE_RANGE_WRITE);
#endif
    started_ = appended_;
  }

  std::string path_;
  Entry partial_, target_;
  Fd file_;  // closed on destruction: the bytes stay for a later run
  uint64_t kept_;
  uint64_t appended_ = 0;  // bytes this run appended
  uint64_t started_ = 0;   // of those, bytes the disk was asked to write
};

// A lock on the drive's root folder itself: nothing is written, and the
// system lets it go with the last descriptor, however the program ends.
class PosixDriveLock : public DriveLock {
 public:
  explicit PosixDriveLock(int fd) : fd_(fd) {}
  ~PosixDriveLock() override { close(fd_); }

 private:
  int fd_;
};

}  // namespace

Status PosixFileSystem::CurrentDrive(std::string_view work_folder, char* letter) {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return ErrnoError("cartella corrente", errno);
  char drive = drives_.DriveOf(buf);
  if (drive == 0) {
    return Status::Error("Nessuna unità di " + drives_.prefix() +
                         "/dosdevices contiene la cartella corrente " + buf);
  }
  // Wine's z: holds the whole file system: taken as the work drive, the
  // scan would create the work folder in /.
  if (drives_.Root(drive) == "/") return WholeFileSystemDrive(buf, drive, work_folder);
  *letter = drive;
  return Status::Ok();
}

Status PosixFileSystem::NativePath(const std::string& path, std::string* native) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return Status::Error(path + ": percorso senza lettera di unità");
  }
  std::string root = drives_.Root(path[0]);
  if (root.empty()) {
    return Status::Error(path + ": unità " + path.substr(0, 2) + " non pronta");
  }
  *native = ResolveBelow(root, path.substr(2));
  return Status::Ok();
}

Status PosixFileSystem::FindEntry(const std::string& path, int mask, std::string* name) {
  name->clear();
  std::string native;
  Status s = NativePath(path, &native);
  if (!s.ok()) return s;
  std::string base = native.substr(native.find_last_of('/') + 1);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status::Ok();
    return ErrnoError(path, errno);
  }
  if (base.empty() || base[0] == '.') return Status::Ok();  // hidden
  bool matches = S_ISREG(st.st_mode) || (mask & kMaskDirectory && S_ISDIR(st.st_mode));
  if (matches) *name = base;
  return Status::Ok();
}

Status PosixFileSystem::CreateFolder(const std::string& path) {
  Entry entry;
  Status s = Locate(drives_, path, false, &entry);
  if (!s.ok()) return s;
  if (mkdirat(entry.folder.get(), entry.name.c_str(), 0777) != 0) {
    int err = errno;
    if (err == EEXIST && IsLinkAt(entry.folder.get(), entry.name)) return LinkRefused(entry.shown);
    return ErrnoError(path, err);
  }
  return Status::Ok();
}

Status PosixFileSystem::BeginReplacement(const std::string& path,
                                         std::unique_ptr<ReplacementFile>* file) {
  Entry target;
  Status s = LocateNoLink(drives_, path, &target);
  if (!s.ok()) return s;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".download-%ld-%u", static_cast<long>(getpid()),
                  counter++);
    std::string temp = "." + target.name + suffix;
    // A new file gets the rights the process's umask leaves.
    Fd fd(openat(target.folder.get(), temp.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() >= 0) {
      *file = std::make_unique<PosixReplacementFile>(path, std::move(target), temp, std::move(fd));
      return Status::Ok();
    }
    if (errno != EEXIST) return ErrnoError(path, errno);
  }
  return ErrnoError(path, EEXIST);
}

Status PosixFileSystem::OpenPartial(const std::string& path, const std::string& target,
                                    std::unique_ptr<PartialFile>* file) {
  // Failures name the target: the operator knows the archive, not its
  // partial file.
  Entry partial, final;
  Status s = LocateNoLink(drives_, target, &final);
  if (!s.ok()) return s;
  s = LocateNoLink(drives_, path, &partial);
  if (!s.ok()) return Status::Error(target + ": " + s.message());
  // The name is known in advance: anyone who can write the folder can
  // plant a hard link to another file there, a link or a FIFO. Those are
  // removed, never written; O_NONBLOCK keeps a FIFO from blocking the open.
  // A file of ours that cannot be opened (read-only, too many open files)
  // is kept: it may be a log's whole history.
  const int folder = partial.folder.get();
  const char* name = partial.name.c_str();
  Fd fd(openat(folder, name, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (fd.get() < 0 && errno != ENOENT) {
    const int err = errno;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return ErrnoError(target, errno);
    if (S_ISREG(st.st_mode) && st.st_nlink == 1) return ErrnoError(target, err);
    if (unlinkat(folder, name, 0) != 0) return ErrnoError(target, errno);
  } else if (fd.get() >= 0) {
    if (fstat(fd.get(), &st) != 0) return ErrnoError(target, errno);
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
      fd.Reset();
      if (unlinkat(folder, name, 0) != 0) return ErrnoError(target, errno);
    }
  }
  if (fd.get() < 0) {
    fd.Reset(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                    0666));
    if (fd.get() < 0) return ErrnoError(target, errno);
    if (fstat(fd.get(), &st) != 0) return ErrnoError(target, errno);
  }
  *file = std::make_unique<PosixPartialFile>(target, std::move(partial), std::move(final),
                                             std::move(fd), static_cast<uint64_t>(st.st_size));
  return Status::Ok();
}

Status PosixFileSystem::ReadSmallFile(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  Entry entry;
  Status s = LocateNoLink(drives_, path, &entry);
  if (!s.ok()) return s;
  Fd fd(openat(entry.folder.get(), entry.name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? Status::Ok() : ErrnoError(path, errno);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return ErrnoError(path, errno);
  if (!S_ISREG(st.st_mode)) return Status::Error(path + ": non è un file");
  if (static_cast<uint64_t>(st.st_size) > limit)
    return Status::Error(path + ": file troppo grande");
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoError(path, errno);
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
    if (bytes->size() > limit) return Status::Error(path + ": file troppo grande");
  }
  return Status::Ok();
}

Status PosixFileSystem::RemoveAbandonedReplacements(const std::string& folder) {
  std::vector<FolderEntry> entries;
  Status s = ListFolder(folder, &entries);
  if (!s.ok()) return s;
  Entry entry;
  s = Locate(drives_, folder, true, &entry);
  if (!s.ok()) return s;
  for (const FolderEntry& listed : entries) {
    // Ours all begin with a dot (see BeginReplacement).
    const pid_t owner =
        listed.name[0] == '.' ? static_cast<pid_t>(ReplacementOwner(listed.name, 10)) : 0;
    if (listed.folder || owner <= 0 || owner == getpid()) continue;
    if (kill(owner, 0) != 0 && errno == ESRCH) unlinkat(entry.folder.get(), listed.name.c_str(), 0);
  }
  return Status::Ok();
}

Status PosixFileSystem::ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  Entry entry;
  Status s = Locate(drives_, folder, true, &entry);
  if (!s.ok()) return s;
  DIR* dir = fdopendir(entry.folder.get());
  if (dir == nullptr) return ErrnoError(folder, errno);
  entry.folder.release();  // the listing owns it now
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    FolderEntry listed;
    listed.name = name;
    listed.modified = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    listed.folder = S_ISDIR(st.st_mode);
    entries->push_back(std::move(listed));
  }
  closedir(dir);
  return Status::Ok();
}

Status PosixFileSystem::RemoveFile(const std::string& path) {
  Entry entry;
  Status s = Locate(drives_, path, false, &entry);
  if (!s.ok()) return s;
  if (unlinkat(entry.folder.get(), entry.name.c_str(), 0) != 0) return ErrnoError(path, errno);
  return Status::Ok();
}

// The drive's root itself is locked: nothing is made on the drive, so the
// work folder plays no part.
Status PosixFileSystem::LockDrive(char letter, std::string_view /*work_folder*/,
                                  std::unique_ptr<DriveLock>* lock) {
  const std::string root = drives_.Root(letter);
  const std::string drive = std::string(1, letter) + ":";
  if (root.empty()) return Status::Error(drive + " non pronta");
  if (root == "/") return NotAShopDrive(letter);
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoError(drive, errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? DriveTaken(letter) : ErrnoError(drive, err);
  }
  *lock = std::make_unique<PosixDriveLock>(fd);
  return Status::Ok();
}

// Wine's own answer for %ProgramData%: the same folder a Windows program of
// the prefix writes.
Status PosixFileSystem::MachineDataFolder(std::string* folder) {
  *folder = "c:\\ProgramData";
  return Status::Ok();
}

}  // namespace avendro

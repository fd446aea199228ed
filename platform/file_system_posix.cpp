#include "platform/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace avendro {
namespace {

// A replacement that grows in "<folder>/.<name>.download-XXXXXX".
class PosixReplacementFile : public ReplacementFile {
 public:
  PosixReplacementFile(std::string path, std::string target, std::string temp, int fd)
      : path_(std::move(path)), target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

  ~PosixReplacementFile() override { Discard(); }

  Status Append(const char* data, size_t size) override {
    if (fd_ < 0) return Status::Error(path_ + ": file già chiuso");
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd_, data + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoError(path_, errno);
      }
      done += static_cast<size_t>(n);
    }
    return Status::Ok();
  }

  Status Commit() override {
    if (fd_ < 0) return Status::Error(path_ + ": file già chiuso");
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
      int err = errno;
      unlink(temp_.c_str());
      return ErrnoError(path_, err);
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
      int err = errno;
      unlink(temp_.c_str());
      return ErrnoError(path_, err);
    }
    temp_.clear();
    return Status::Ok();
  }

 private:
  void Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
  }

  std::string path_, target_, temp_;
  int fd_;
};

// Writes all of `size` bytes, through interruptions.
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

// A partial download at `partial_`, appended to through `fd_`.
class PosixPartialFile : public PartialFile {
 public:
  PosixPartialFile(std::string path, std::string partial, std::string target, int fd, uint64_t kept)
      : path_(std::move(path)),
        partial_(std::move(partial)),
        target_(std::move(target)),
        fd_(fd),
        kept_(kept) {}

  ~PosixPartialFile() override {
    if (fd_ >= 0) close(fd_);  // the bytes stay for a later run
  }

  uint64_t kept() const override { return kept_; }

  Status ReadKept(const std::function<void(const char*, size_t)>& sink) override {
    int fd = open(partial_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return ErrnoError(path_, errno);
    std::string buffer(512 * 1024, '\0');
    uint64_t left = kept_;
    Status status;
    while (left > 0 && status.ok()) {
      ssize_t n =
          read(fd, buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
        status = ErrnoError(path_, errno);
      else if (n == 0)
        status = Status::Error(path_ + ": file più corto del previsto");
      else {
        sink(buffer.data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
      }
    }
    close(fd);
    return status;
  }

  Status Append(const char* data, size_t size) override {
    if (fd_ < 0) return Status::Error(path_ + ": file già chiuso");
    return WriteAll(fd_, data, size, path_);
  }

  Status Commit() override {
    if (fd_ < 0) return Status::Error(path_ + ": file già chiuso");
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return ErrnoError(path_, errno);
    if (rename(partial_.c_str(), target_.c_str()) != 0) return ErrnoError(path_, errno);
    return Status::Ok();
  }

 private:
  std::string path_, partial_, target_;
  int fd_;
  uint64_t kept_;
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

Status PosixFileSystem::CurrentDrive(char* letter) {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return ErrnoError("cartella corrente", errno);
  char drive = drives_.DriveOf(buf);
  if (drive == 0) {
    return Status::Error("Nessuna unità di " + drives_.prefix() +
                         "/dosdevices contiene la cartella corrente " + buf);
  }
  // Wine's z: holds the whole file system: taken as the work drive, the
  // scan would create /drubel.
  if (drives_.Root(drive) == "/") return WholeFileSystemDrive(buf, drive);
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
  std::string native;
  Status s = NativePath(path, &native);
  if (!s.ok()) return s;
  if (mkdir(native.c_str(), 0777) != 0) return ErrnoError(path, errno);
  return Status::Ok();
}

Status PosixFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  std::string native;
  Status s = NativePath(path, &native);
  if (!s.ok()) return s;
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return ErrnoError(path, errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      return ErrnoError(path, err);
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) return ErrnoError(path, errno);
  return Status::Ok();
}

Status PosixFileSystem::BeginReplacement(const std::string& path,
                                         std::unique_ptr<ReplacementFile>* file) {
  std::string target;
  Status s = NativePath(path, &target);
  if (!s.ok()) return s;
  size_t slash = target.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + "/." + name + ".download-XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return ErrnoError(path, errno);
  // mkostemp makes the file private; a replacement gets the rights a new
  // file of this process would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  *file = std::make_unique<PosixReplacementFile>(path, target, temp, fd);
  return Status::Ok();
}

Status PosixFileSystem::OpenPartial(const std::string& path, const std::string& target,
                                    std::unique_ptr<PartialFile>* file) {
  std::string native, native_target;
  // Failures name the target: the operator knows the archive, not its
  // partial file.
  Status s = NativePath(target, &native_target);
  if (!s.ok()) return s;
  s = NativePath(path, &native);
  if (!s.ok()) return Status::Error(target + ": " + s.message());
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return ErrnoError(target, errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    return ErrnoError(target, err);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return Status::Error(path + ": non è un file");
  }
  *file = std::make_unique<PosixPartialFile>(target, native, native_target, fd,
                                             static_cast<uint64_t>(st.st_size));
  return Status::Ok();
}

Status PosixFileSystem::ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::string native;
  Status s = NativePath(folder, &native);
  if (!s.ok()) return s;
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return ErrnoError(folder, errno);
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;  // gone meanwhile
    FolderEntry e;
    e.name = name;
    e.modified = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    e.folder = S_ISDIR(st.st_mode);
    entries->push_back(std::move(e));
  }
  closedir(dir);
  return Status::Ok();
}

Status PosixFileSystem::RemoveFile(const std::string& path) {
  std::string native;
  Status s = NativePath(path, &native);
  if (!s.ok()) return s;
  if (unlink(native.c_str()) != 0) return ErrnoError(path, errno);
  return Status::Ok();
}

Status PosixFileSystem::LockDrive(char letter, std::unique_ptr<DriveLock>* lock) {
  const std::string root = drives_.Root(letter);
  const std::string drive = std::string(1, letter) + ":";
  if (root.empty()) return Status::Error(drive + " non pronta");
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

}  // namespace avendro

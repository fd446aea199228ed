#include "platform/file_system_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

Status PosixFileSystem::CurrentDrive(char* letter) {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return ErrnoError("cartella corrente", errno);
  char drive = drives_.DriveOf(buf);
  if (drive == 0) {
    return Status::Error("Nessuna unità di " + drives_.prefix() +
                         "/dosdevices contiene la cartella corrente " + buf);
  }
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

}  // namespace avendro

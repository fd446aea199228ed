#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace avendro {

// Stops the operation under way and every later one: the window is closing.
// Whoever holds the token may cancel; a transport looks at it while it
// waits for the network.
class CancelToken {
 public:
  void Cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

// What a server tells of a file before it is fetched.
struct RemoteFile {
  int64_t size = -1;      // -1: the server does not say
  int64_t modified = -1;  // Unix time, -1: the server does not say
};

// Takes the bytes of a fetch as they arrive.
class FetchSink {
 public:
  virtual ~FetchSink() = default;
  // The whole file's size as the transfer's own reply announced it; called
  // before the first bytes, or never.
  virtual void Announced(int64_t size) = 0;
  // The next bytes, in order. False ends the transfer (FetchEnd::kRefused).
  virtual bool Take(const char* data, size_t size) = 0;
};

enum class FetchEnd {
  kDone,           // the server said the transfer is complete
  kNotFound,       // the server has no such file
  kResumeRefused,  // the server does not start a file in the middle
  kRefused,        // the sink refused bytes
  kFailed,         // anything else; the reason says what
};

// A connection to an update server that can fetch a file, or its end, and
// nothing more: whether the bytes are complete, right and signed is for the
// caller (CheckedDownload). Reasons are in the operator's words and never
// hold the password. Every call fails at once once the token is cancelled.
class Transport {
 public:
  virtual ~Transport() = default;

  // A new connection, logged in, at the login directory.
  virtual Status Connect() = 0;
  // Changes to `folder`, relative to the current one; unchanged on failure.
  virtual Status ChangeFolder(const std::string& folder) = 0;
  // The size and time of `remote` in the current folder, -1 for what the
  // server does not say. Fails when the file cannot be asked for.
  virtual Status Describe(const std::string& remote, RemoteFile* file) = 0;
  // Fetches `remote` of the current folder from byte `offset` to its end
  // into `sink`. `whole` is the file's size when known (-1 otherwise).
  // On any end but kDone and kRefused, `*reason` says why.
  virtual FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t whole, FetchSink& sink,
                         std::string* reason) = 0;
  // Stores `bytes` as `remote` in the current folder: under a temporary
  // name first, then renamed over `remote` in one step, so that a reader
  // never sees half of it. Transports that cannot store say so.
  virtual Status Store(const std::string& remote, const std::string& bytes) {
    (void)bytes;
    return Status::Error(remote + ": il server non accetta file");
  }
  // Logs out and closes the connection.
  virtual Status Disconnect() = 0;
};

}  // namespace avendro

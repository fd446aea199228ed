#pragma once

#include <string>
#include <utility>

namespace avendro {

// The outcome of a platform call. A failure carries a message that names the
// path (or process) involved and the system's reason, ready for the log.
class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}
  bool failed_ = false;
  std::string message_;
};

// "<what>: <strerror(err)>"
Status ErrnoError(const std::string& what, int err);

}  // namespace avendro

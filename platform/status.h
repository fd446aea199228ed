#pragma once

#include <string>
#include <utility>

namespace avendro {

// What kind of failure a Status is, for the callers that act on the kind
// rather than only report it.
enum class StatusCode {
  kOk,
  kFailed,      // any other failure; the message says what
  kNotFound,    // no such file, folder or server file
  kRefused,     // the system or the server refused access
  kOutOfSpace,  // the drive is full
  kCancelled,   // stopped on purpose: the window is closing
};

// The outcome of a call. A failure carries a message that names the path
// (or process, or server file) involved and the reason, ready for the log,
// and its kind.
class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(std::string message, StatusCode code = StatusCode::kFailed) {
    return Status(std::move(message), code == StatusCode::kOk ? StatusCode::kFailed : code);
  }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }

  // The same failure, its message after `context` ("<file>: "); an Ok
  // stays Ok.
  Status In(const std::string& context) const {
    return ok() ? Status() : Status(context + message_, code_);
  }

 private:
  Status(std::string message, StatusCode code) : code_(code), message_(std::move(message)) {}
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
};

// The kind of a failure with errno `err`.
StatusCode KindOfErrno(int err);

// "<what>: <strerror(err)>", of the kind of `err`.
Status ErrnoError(const std::string& what, int err);

}  // namespace avendro

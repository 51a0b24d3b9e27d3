// Status: the outcome of an operation that can fail on bad input or I/O.
//
// Modelled on LevelDB's Status: free on success, a kind plus a short message
// on failure. Bad file content is always reported through a Status (with the
// place it was found, usually a byte offset or page number), never an assert.
#pragma once

#include <string>
#include <utility>

namespace kp {

class Status {
 public:
  enum class Code {
    kOk = 0,
    kNotFound,         // a file, table or column that is not there
    kCorruption,       // the bytes do not follow the format
    kNotSupported,     // valid, but this program does not handle it
    kInvalidArgument,  // the caller asked for something impossible
    kIOError,          // the operating system refused a read or write
  };

  Status() = default;

  static Status OK() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status Corruption(std::string msg) { return Status(Code::kCorruption, std::move(msg)); }
  static Status NotSupported(std::string msg) { return Status(Code::kNotSupported, std::move(msg)); }
  static Status InvalidArgument(std::string msg) {
    return Status(Code::kInvalidArgument, std::move(msg));
  }
  static Status IOError(std::string msg) { return Status(Code::kIOError, std::move(msg)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsCorruption() const { return code_ == Code::kCorruption; }
  bool IsNotSupported() const { return code_ == Code::kNotSupported; }
  bool IsInvalidArgument() const { return code_ == Code::kInvalidArgument; }
  bool IsIOError() const { return code_ == Code::kIOError; }

  // "Corruption: bad row offset at page 14 row 3", or "OK".
  std::string ToString() const;

  // The same status with "context: " put in front of its message.
  Status WithContext(const std::string& context) const {
    if (ok()) return *this;
    return Status(code_, context + ": " + message_);
  }

 private:
  Status(Code code, std::string msg) : code_(code), message_(std::move(msg)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace kp

// Returns from the calling function when `expr` yields a failed Status.
#define KP_RETURN_IF_ERROR(expr)          \
  do {                                    \
    ::kp::Status kp_status_ = (expr);     \
    if (!kp_status_.ok()) return kp_status_; \
  } while (0)

// Status: the outcome of an operation that can fail on bad input or I/O.
//
// Modelled on LevelDB's Status: free on success (one null pointer, nothing
// to build or free), a kind plus a short message on failure. Bad file content is always reported through a Status (with the
// place it was found, usually a byte offset or page number), never an assert.
#pragma once

#include <memory>
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

  Status() noexcept = default;
  Status(const Status& other) : state_(other.state_ ? new State(*other.state_) : nullptr) {}
  Status(Status&& other) noexcept = default;
  Status& operator=(const Status& other) {
    if (this != &other) state_.reset(other.state_ ? new State(*other.state_) : nullptr);
    return *this;
  }
  Status& operator=(Status&& other) noexcept = default;

  static Status OK() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status Corruption(std::string msg) { return Status(Code::kCorruption, std::move(msg)); }
  static Status NotSupported(std::string msg) { return Status(Code::kNotSupported, std::move(msg)); }
  static Status InvalidArgument(std::string msg) {
    return Status(Code::kInvalidArgument, std::move(msg));
  }
  static Status IOError(std::string msg) { return Status(Code::kIOError, std::move(msg)); }

  bool ok() const { return state_ == nullptr; }
  Code code() const { return state_ ? state_->code : Code::kOk; }
  // Empty on success.
  const std::string& message() const;

  bool IsNotFound() const { return code() == Code::kNotFound; }
  bool IsCorruption() const { return code() == Code::kCorruption; }
  bool IsNotSupported() const { return code() == Code::kNotSupported; }
  bool IsInvalidArgument() const { return code() == Code::kInvalidArgument; }
  bool IsIOError() const { return code() == Code::kIOError; }

  // "Corruption: bad row offset at page 14 row 3", or "OK".
  std::string ToString() const;

  // The same status with "context: " put in front of its message.
  Status WithContext(const std::string& context) const {
    if (ok()) return Status();
    return Status(state_->code, context + ": " + state_->message);
  }

 private:
  struct State {
    Code code;
    std::string message;
  };
  Status(Code code, std::string msg) : state_(new State{code, std::move(msg)}) {}

  std::unique_ptr<State> state_;  // null: OK
};

}  // namespace kp

// Returns from the calling function when `expr` yields a failed Status.
#define KP_RETURN_IF_ERROR(expr)          \
  do {                                    \
    ::kp::Status kp_status_ = (expr);     \
    if (!kp_status_.ok()) [[unlikely]] return kp_status_; \
  } while (0)

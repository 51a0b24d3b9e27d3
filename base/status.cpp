#include "base/status.h"

namespace kp {

const std::string& Status::message() const {
  static const std::string kEmpty;
  return state_ ? state_->message : kEmpty;
}

std::string Status::ToString() const {
  const char* kind = "OK";
  switch (code()) {
    case Code::kOk: return "OK";
    case Code::kNotFound: kind = "Not found"; break;
    case Code::kCorruption: kind = "Corruption"; break;
    case Code::kNotSupported: kind = "Not supported"; break;
    case Code::kInvalidArgument: kind = "Invalid argument"; break;
    case Code::kIOError: kind = "I/O error"; break;
  }
  return std::string(kind) + ": " + state_->message;
}

}  // namespace kp

#include "model/control_document.h"

namespace kp::Module1 {

ControlDocument& Document() {
  static ControlDocument document;
  return document;
}

}  // namespace kp::Module1

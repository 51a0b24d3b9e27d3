// The main window's fonts in Qt: the design's face for a role where it is
// installed, else the first installed face that stands in for it
// (form_design.h), else any Japanese face of the same pitch. Sizes are in
// pixels at 96 dpi, like every position of the window.
#pragma once

#include <QFont>

#include "form/form_design.h"

namespace kp {

QFont FormFont(FontRole role);

}  // namespace kp

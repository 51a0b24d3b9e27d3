// Resource identifiers shared by every program's resources and by the code
// that loads them (the window's class icon).
#pragma once

#define KP_IDI_APP 1

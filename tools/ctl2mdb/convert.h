// ctl2mdb's convert mode: `ctl2mdb PATH OUTPUT.mdb [--no-compact]`.
//
// Loads PATH (a DEFAULT.CTL, or the folder that holds one) as the window's
// load command does, then runs the window's export command with the same
// template (KP.dbd beside the executable, or the installed one) and
// messages. Its work file is a new file of a unique name beside the output,
// so conversions can run side by side. Messages go to stderr, each failure followed by a line with
// its cause; a progress line is kept on stderr while it is a terminal.
//
// Exit status: 0 saved (and compacted unless --no-compact), 1 the load or
// the save failed, 2 usage error, 3 saved but the compaction failed (the
// output is complete, uncompacted).
#pragma once

#include <string>
#include <vector>

namespace kp::cli {

// `args` are the arguments after the program name.
int RunConvert(const std::vector<std::string>& args);

}  // namespace kp::cli

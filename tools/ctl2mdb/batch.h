// ctl2mdb's batch mode: `ctl2mdb --batch ROOT OUTDIR [-j N]`.
//
// Converts every DEFAULT.CTL under ROOT (symbolic links to folders are not
// followed) into OUTDIR/<its folder's path under ROOT>.mdb; a DEFAULT.CTL in
// ROOT itself gives OUTDIR/<ROOT's name>.mdb. N conversions run at a time
// (default: the number of cores), each a `ctl2mdb PATH OUTPUT.mdb` process of
// its own with its own work file, so a broken document, even one that brings
// its converter down, does not stop the others.
//
// stdout gets one line per document as it finishes, "ok      <folder>" or
// "failed  <folder>: <message>: <cause>", then "<k> of <n> converted, <f>
// failed". While stderr is a terminal a progress bar is drawn there. Exit
// status 0 only when every document was converted and compacted, 1 when any
// failed or none was found, 2 on a usage error.
#pragma once

#include <string>
#include <vector>

namespace kp::cli {

// `args` are the arguments after --batch; `argv0` names this program when
// the platform cannot say where the running executable is.
int RunBatch(const std::vector<std::string>& args, const char* argv0);

}  // namespace kp::cli

// The export command of the running program: template and work file in the
// executable's folder, the engine of this project's Jet layer.
#include "base/path.h"
#include "base/system.h"
#include "export/export_command.h"
#include "export/template_check.h"

namespace kp {

std::string ProgramFolder() {
  const Path exe = ExecutablePath();
  if (exe.empty()) return ".";
  return PathToUtf8(exe.parent_path());
}

ExportCommand& DefaultExportCommand() {
  static ExportCommand& command = [] () -> ExportCommand& {
    static ExportCommand c(ProgramFolder(), [] { return jet::CreateJetEngine(); });
    c.set_template_check(CheckTemplate);
    return c;
  }();
  return command;
}

}  // namespace kp

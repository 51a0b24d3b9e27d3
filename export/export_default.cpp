// The export command of the running program: template and work file in the
// executable's folder, the engine of this project's Jet layer.
#include <filesystem>
#include <system_error>

#include "export/export_command.h"
#include "export/template_check.h"

namespace kp {

std::string ProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return ".";
  return exe.parent_path().string();
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

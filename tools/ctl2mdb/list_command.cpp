// ctl2mdb --list PATH: the page list and the eight totals as the window shows them.
#include <cstdio>
#include <string>
#include <system_error>

#include "base/path.h"
#include "base/text_util.h"
#include "cli_common.h"
#include "ctl/load_command.h"
#include "inspect/page_list.h"

namespace kp::cli {

std::string ControlFilePath(const std::string& arg) {
  std::error_code ec;
  if (std::filesystem::is_directory(PathFromUtf8(arg), ec)) {
    std::string folder = arg;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/DEFAULT.CTL";
  }
  // A bare file name is in the current folder; keep a folder in front of
  // DEFAULT.CTL so that the page images are looked up beside it.
  return PathFromUtf8(arg).has_parent_path() ? arg : "./" + arg;
}

void PrintFailure(const std::u16string& message, const std::string& cause) {
  std::fprintf(stderr, "%s\n%s\n", Utf16ToUtf8(message).c_str(), cause.c_str());
}

int RunList(const std::string& path) {
  ControlDocument doc;
  FileSystemImageSizer sizer;
  LoadResult result = LoadControlFile(ControlFilePath(path), &sizer, &doc);
  if (!result.ok()) {
    PrintFailure(result.message(), result.cause);
    return kExitFailure;
  }
  std::string out;
  for (size_t i = 0; i < doc.Pages.size(); ++i) {
    PageRowTexts row = PageRow(doc.Pages[i], int64_t(i) + 1);
    for (size_t c = 0; c < row.size(); ++c) {
      if (c) out.push_back('\t');
      out += Utf16ToUtf8(row[c]);
    }
    out.push_back('\n');
  }
  out.push_back('\n');
  for (const auto& [label, count] : TotalLabels(ComputeTotals(doc))) {
    out += label + "\t" + std::to_string(count) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace kp::cli

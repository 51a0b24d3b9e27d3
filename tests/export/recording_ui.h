// An ExportUi that answers the save dialog with a fixed path and records
// every call as a line ("ask", "show", "hide", "caption:…", "max:3",
// "value:1", "enabled:0", "message:…"), so a test can compare the whole
// sequence the user would have seen.
#pragma once

#include <string>
#include <vector>

#include "base/text_util.h"
#include "export/export_command.h"

namespace kp::testing {

inline std::string Utf8(const std::u16string& s) { return Utf16ToUtf8(s); }

class RecordingUi : public ExportUi {
 public:
  explicit RecordingUi(std::string path, bool cancel = false) : path_(std::move(path)), cancel_(cancel) {}

  bool AskSavePath(const std::u16string& filter, std::string* path) override {
    events.push_back("ask");
    last_filter = filter;
    if (cancel_) return false;
    *path = path_;
    return true;
  }
  void ShowMessage(const std::u16string& text) override { events.push_back("message:" + Utf8(text)); }
  void ShowProgress() override { events.push_back("show"); }
  void HideProgress() override { events.push_back("hide"); }
  void SetProgressCaption(const std::u16string& caption) override {
    events.push_back("caption:" + Utf8(caption));
  }
  void SetProgressMax(float max) override { events.push_back("max:" + Number(max)); }
  void SetProgressValue(float value) override { events.push_back("value:" + Number(value)); }
  void SetMainWindowEnabled(bool enabled) override {
    events.push_back(enabled ? "enabled:1" : "enabled:0");
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& e : events) if (e.rfind("message:", 0) == 0) out.push_back(e.substr(8));
    return out;
  }
  bool Saw(const std::string& event) const {
    for (const auto& e : events) if (e == event) return true;
    return false;
  }

  std::vector<std::string> events;
  std::u16string last_filter;

 private:
  static std::string Number(float f) {
    return f == float(int64_t(f)) ? std::to_string(int64_t(f)) : std::to_string(f);
  }
  std::string path_;
  bool cancel_;
};

}  // namespace kp::testing

// The window's front end for the commands: message boxes as the toolkit's
// modal boxes, the toolkit's folder picker, the desktop's file manager, the
// wait cursor, and repainting while a long command runs.
#pragma once

#include <optional>
#include <string>

#include "window/shell.h"

namespace gui {

class MainWindow;
class Script;

class WxShell : public app::Shell {
 public:
  explicit WxShell(Script* script = nullptr) : script_(script) {}

  void SetWindow(MainWindow* window) { window_ = window; }

  app::Answer MessageBox(const std::string& text, const std::string& caption,
                              app::Buttons buttons, app::BoxKind kind) override;
  std::optional<std::string> PickFolder() override;
  void OpenFolder(const std::string& path) override;
  void FieldChanged(int id, const std::string& text) override;
  void Busy(bool on) override;
  void EndDialog() override;
  void ShowChoices(const std::string& title, app::Choices& choices) override;
  void GetRights() override;

 private:
  MainWindow* window_ = nullptr;
  Script* script_ = nullptr;
  int busyDepth_ = 0;
};

}  // namespace gui

// What the window asks of its front end: message boxes, the folder picker,
// opening a folder in the file manager, and a word when a field changes so
// that the front end can repaint during a long command.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class Buttons { kOk, kYesNo };
enum class Answer { kOk, kYes, kNo };
// How a box reads: a failure, a plain notice, or a question.
enum class BoxKind { kError, kNotice, kQuestion };

class Shell {
 public:
  virtual ~Shell() = default;
  virtual Answer MessageBox(const std::string& text, const std::string& caption,
                            Buttons buttons, BoxKind kind) = 0;
  // The folder picked, or nothing when the picker was cancelled.
  virtual std::optional<std::string> PickFolder() = 0;
  virtual void OpenFolder(const std::string& path) = 0;
  // A control's text changed during a command (progress fields).
  virtual void FieldChanged(int /*id*/, const std::string& /*text*/) {}
  // A long command started or ended (wait cursor).
  virtual void Busy(bool /*on*/) {}
  // The window's Exit command: the front end closes the window.
  virtual void EndDialog() {}
  // Get rights: the front end starts the window again with the rights to
  // read drives (platform/session.h) and closes this one once it runs.
  virtual void GetRights() {}
};

}  // namespace platform

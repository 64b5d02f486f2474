// What the window asks of its front end: message boxes, the folder picker,
// opening a folder in the file manager, and a word when a field changes so
// that the front end can repaint during a long command.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace app {

enum class Buttons { kOk, kYesNo };
enum class Answer { kOk, kYes, kNo };
// How a box reads: a failure, a plain notice, or a question.
enum class BoxKind { kError, kNotice, kQuestion };

// The check boxes of a dialog of choices. A click may change other boxes too
// (a box that stands for several), so a front end reads every tick again
// after each click.
class Choices {
 public:
  virtual ~Choices() = default;
  virtual size_t Count() const = 0;
  virtual std::string Label(size_t i) const = 0;
  virtual bool Ticked(size_t i) const = 0;
  // A click on box `i`, as a person makes it.
  virtual void Click(size_t i) = 0;
};

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
  // Shows a dialog titled `title` with a check box per choice, passing each
  // click on, until the person closes it. A front end without dialogs shows
  // nothing.
  virtual void ShowChoices(const std::string& /*title*/, Choices& /*choices*/) {}
  // Get rights: the front end starts the window again with the rights to
  // read drives (platform/session.h) and closes this one once it runs.
  virtual void GetRights() {}
};

}  // namespace app

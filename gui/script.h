// Scripted runs of the window, for tests and for the screenshot: a hidden
// option (--script FILE) of lumisave-gui. The steps run one after another
// once the window is up, through the window's own event handlers; message
// boxes and the folder picker take their answers from the script instead of
// waiting for a person. Everything shown is logged on stdout.
//
// Steps, one per line ('#' starts a comment):
//   select NAME       click the drive-list row of NAME (physicaldriveN or a path)
//   press ID          click control ID (a picture button through its widget)
//   answer yes|no     the answer to the next Yes/No box
//   pick PATH|cancel  the answer to the next folder picker
//   tick TEXT         in the next dialog of choices, click the box whose label
//                     begins with TEXT (the dialog then logs its boxes and closes)
//   set ID TEXT       set a field's text
//   print ID          print "ID=TEXT" (a list: "ID[ROW]=CELL<TAB>...")
//   ready FILE        write the window's place on screen (WxH+X+Y) into FILE
//   wait FILE         go on once FILE exists
//   mouse-click NAME  click the drive-list row of NAME with the mouse (through
//                     the X server's input), and go on once the list's click ran
//   close-on-progress close the window at the next progress of a command
//   stop-on-progress  press Stop at the next progress of a run
//   close             close the window as its close box does
// After the last step the window is closed.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <wx/timer.h>

#include "window/shell.h"

namespace gui {

class ChoicesDialog;
class MainWindow;

class Script {
 public:
  // False with a reason when the file cannot be read or a step is unknown.
  bool Load(const std::string& file, std::string* error);
  void Start(MainWindow& window);

  app::Answer AnswerBox(const std::string& caption, const std::string& text,
                             app::Buttons buttons);
  std::optional<std::string> AnswerFolder();
  void LogBox(const std::string& caption, const std::string& text, const std::string& answer);
  void LogOpen(const std::string& path);
  // Clicks the boxes the script's tick steps name, logs the boxes as shown,
  // and leaves the dialog closed.
  void RunChoices(const std::string& title, ChoicesDialog& dialog);

 private:
  struct Step {
    std::string verb;
    std::string argument;
  };
  void RunNext();
  bool Run(const Step& step);

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::deque<app::Answer> answers_;
  std::deque<std::optional<std::string>> folders_;
  std::deque<std::string> ticks_;
  MainWindow* window_ = nullptr;
  wxTimer waitTimer_;
  std::string waitFile_;
  int clicksBefore_ = -1;  // mouse-click: the list's clicks when it was sent
  int waitTicks_ = 0;
};

}  // namespace gui

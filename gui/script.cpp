#include "gui/script.h"

#include <wx/uiaction.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "gui/choices_dialog.h"
#include "gui/main_window.h"
#include "platform/fs.h"

namespace gui {
namespace {

const char* const kVerbs[] = {"select", "press", "answer", "pick",  "set",
                              "print",  "ready", "wait",   "close", "close-on-progress", "stop-on-progress",
                              "mouse-click", "tick"};

bool KnownVerb(const std::string& verb) {
  for (const char* v : kVerbs) {
    if (verb == v) return true;
  }
  return false;
}

int ToId(const std::string& text) {
  try {
    return std::stoi(text);
  } catch (...) {
    return -1;
  }
}

}  // namespace

bool Script::Load(const std::string& file, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot read the script " + file;
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t blank = line.find(' ');
    Step step{line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1)};
    if (!KnownVerb(step.verb)) {
      *error = "unknown script step: " + line;
      return false;
    }
    if (step.verb == "answer") {
      answers_.push_back(step.argument == "yes" ? app::Answer::kYes : app::Answer::kNo);
      continue;
    }
    if (step.verb == "tick") {
      ticks_.push_back(step.argument);
      continue;
    }
    if (step.verb == "pick") {
      folders_.push_back(step.argument == "cancel" ? std::nullopt
                                                   : std::optional<std::string>(step.argument));
      continue;
    }
    steps_.push_back(step);
  }
  return true;
}

void Script::Start(MainWindow& window) {
  window_ = &window;
  waitTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    if (clicksBefore_ >= 0) {
      // A mouse click: on once the list has seen it (or after 10 seconds).
      if (window_->listClicks() == clicksBefore_ && ++waitTicks_ < 200) return;
      if (window_->listClicks() == clicksBefore_) std::cout << "MOUSE no click arrived" << std::endl;
      clicksBefore_ = -1;
    } else if (!platform::Exists(waitFile_)) {
      return;
    }
    waitTimer_.Stop();
    RunNext();
  });
  window.CallAfter([this] { RunNext(); });
}

void Script::RunNext() {
  while (next_ < steps_.size()) {
    const Step step = steps_[next_++];
    if (!Run(step)) return;  // waits; the timer goes on
  }
  std::cout.flush();
  window_->Close();
}

bool Script::Run(const Step& step) {
  MainWindow& w = *window_;
  if (step.verb == "select") {
    w.ClickRow(w.dlg().FindDriveRow(step.argument));
  } else if (step.verb == "press") {
    w.PressControl(ToId(step.argument));
  } else if (step.verb == "set") {
    const size_t blank = step.argument.find(' ');
    w.dlg().SetText(ToId(step.argument.substr(0, blank)),
                    blank == std::string::npos ? "" : step.argument.substr(blank + 1));
    w.SyncFromModel();
  } else if (step.verb == "print") {
    const int id = ToId(step.argument);
    if (w.dlg().HasControl(id)) {
      const app::Control& c = w.dlg().control(id);
      if (c.kind == app::ControlKind::kListView || c.kind == app::ControlKind::kListBox) {
        for (size_t r = 0; r < c.rows.size(); ++r) {
          std::cout << id << "[" << r << "]=";
          for (size_t i = 0; i < c.rows[r].size(); ++i) std::cout << (i ? "\t" : "") << c.rows[r][i];
          std::cout << "\n";
        }
      } else {
        std::cout << id << "=" << c.text << "\n";
      }
    }
  } else if (step.verb == "ready") {
    const wxRect r = w.GetScreenRect();
    std::ofstream(step.argument) << r.width << "x" << r.height << "+" << r.x << "+" << r.y << "\n";
  } else if (step.verb == "wait") {
    waitFile_ = step.argument;
    if (!platform::Exists(waitFile_)) {
      waitTimer_.Start(50);
      return false;
    }
  } else if (step.verb == "mouse-click") {
    const wxPoint at = w.RowOnScreen(w.dlg().FindDriveRow(step.argument));
    if (at != wxDefaultPosition) {
      clicksBefore_ = w.listClicks();
      waitTicks_ = 0;
      wxUIActionSimulator mouse;
      mouse.MouseMove(at);
      mouse.MouseClick();
      waitTimer_.Start(50);
      return false;
    }
  } else if (step.verb == "close-on-progress") {
    w.CloseOnNextProgress();
  } else if (step.verb == "stop-on-progress") {
    w.StopOnNextProgress();
  } else if (step.verb == "close") {
    w.Close();
  }
  std::cout.flush();
  return true;
}

app::Answer Script::AnswerBox(const std::string& caption, const std::string& text,
                                   app::Buttons buttons) {
  if (buttons == app::Buttons::kOk) {
    LogBox(caption, text, "ok");
    return app::Answer::kOk;
  }
  app::Answer answer = app::Answer::kNo;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  LogBox(caption, text, answer == app::Answer::kYes ? "yes" : "no");
  return answer;
}

std::optional<std::string> Script::AnswerFolder() {
  if (folders_.empty()) return std::nullopt;
  std::optional<std::string> folder = folders_.front();
  folders_.pop_front();
  std::cout << "PICK " << folder.value_or("(cancel)") << std::endl;
  return folder;
}

void Script::LogBox(const std::string& caption, const std::string& text, const std::string& answer) {
  std::cout << "BOX " << caption << ": " << text << " -> " << answer << std::endl;
}

void Script::LogOpen(const std::string& path) { std::cout << "OPEN " << path << std::endl; }

void Script::RunChoices(const std::string& title, ChoicesDialog& dialog) {
  while (!ticks_.empty()) {
    const int box = dialog.FindBox(ticks_.front());
    if (box < 0) {
      std::cout << "NO BOX " << ticks_.front() << std::endl;
    } else {
      dialog.ClickBox(static_cast<size_t>(box));
    }
    ticks_.pop_front();
  }
  std::cout << "CHOICES " << title << "\n" << dialog.Describe() << std::flush;
}

}  // namespace gui

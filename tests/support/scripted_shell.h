// A front end for tests: records every message box and answers questions
// from a queue (No when the queue is empty).
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "window/shell.h"

namespace testing_support {

struct Box {
  std::string text;
  std::string caption;
  app::Buttons buttons;
  bool operator==(const Box& o) const {
    return text == o.text && caption == o.caption && buttons == o.buttons;
  }
};

class ScriptedShell : public app::Shell {
 public:
  app::Answer MessageBox(const std::string& text, const std::string& caption,
                              app::Buttons buttons, app::BoxKind) override {
    boxes.push_back({text, caption, buttons});
    if (buttons == app::Buttons::kOk) return app::Answer::kOk;
    if (answers.empty()) return app::Answer::kNo;
    app::Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::string> PickFolder() override { return pickedFolder; }
  void OpenFolder(const std::string& path) override { opened.push_back(path); }
  void FieldChanged(int id, const std::string& text) override {
    changes.push_back({id, text});
  }
  // A dialog of choices: its title is recorded, and `clickChoices` (when
  // set) clicks in it as a person would.
  void ShowChoices(const std::string& title, app::Choices& choices) override {
    choiceTitles.push_back(title);
    if (clickChoices) clickChoices(choices);
  }

  // The captions and texts of the boxes shown, "CAPTION: TEXT" each.
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.caption + ": " + b.text);
    return out;
  }

  std::vector<Box> boxes;
  std::deque<app::Answer> answers;
  std::optional<std::string> pickedFolder;
  std::vector<std::string> opened;
  std::vector<std::pair<int, std::string>> changes;
  std::vector<std::string> choiceTitles;
  std::function<void(app::Choices&)> clickChoices;
};

}  // namespace testing_support

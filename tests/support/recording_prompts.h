// A Prompts that keeps every box it was shown and answers from a script.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "seams/prompts.h"

namespace r7::test {

class RecordingPrompts : public Prompts {
 public:
  // Queued answers, used in order by the questions (boxes with more than an
  // OK button). Unscripted questions get the box's default answer, else Yes;
  // Retry/Cancel boxes get Cancel so nothing loops forever.
  void answer(Answer a) { answers_.push_back(a); }
  // Queued answers of the choices; an unscripted choice is cancelled.
  void answer_choice(std::optional<int> index) { choice_answers_.push_back(index); }
  void answer_open(std::optional<std::string> path) { open_answers_.push_back(std::move(path)); }
  void answer_save(std::optional<std::string> path) { save_answers_.push_back(std::move(path)); }

  Answer message_box(const MessageBox& box) override;
  std::optional<int> choose(const Choice& choice) override;
  std::optional<std::string> open_file(const FileDialog& dialog) override;
  std::optional<std::string> save_file(const FileDialog& dialog) override;
  void set_busy(bool busy) override { busy_history.push_back(busy); }

  // The texts of every box shown, in order.
  std::vector<std::string> texts() const;

  std::vector<MessageBox> boxes;
  std::vector<Choice> choices;
  std::vector<FileDialog> open_dialogs;
  std::vector<FileDialog> save_dialogs;
  std::vector<bool> busy_history;

 private:
  std::deque<Answer> answers_;
  std::deque<std::optional<int>> choice_answers_;
  std::deque<std::optional<std::string>> open_answers_;
  std::deque<std::optional<std::string>> save_answers_;
};

}  // namespace r7::test

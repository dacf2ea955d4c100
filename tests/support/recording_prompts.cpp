#include "support/recording_prompts.h"

namespace r7::test {

Answer RecordingPrompts::message_box(const MessageBox& box) {
  boxes.push_back(box);
  if (box.buttons == Buttons::Ok) return Answer::Ok;  // a plain message takes no scripted answer
  if (!answers_.empty()) {
    const Answer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  if (box.default_answer) return *box.default_answer;
  switch (box.buttons) {
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
      return Answer::Yes;
    case Buttons::RetryCancel:
      return Answer::Cancel;  // unscripted: give up, so no test loops forever
    case Buttons::Ok:
    case Buttons::OkCancel:
      return Answer::Ok;
  }
  return Answer::Ok;
}

std::optional<int> RecordingPrompts::choose(const Choice& choice) {
  choices.push_back(choice);
  if (choice_answers_.empty()) return std::nullopt;
  const std::optional<int> a = choice_answers_.front();
  choice_answers_.pop_front();
  return a;
}

std::optional<std::string> RecordingPrompts::open_file(const FileDialog& dialog) {
  open_dialogs.push_back(dialog);
  if (open_answers_.empty()) return std::nullopt;
  auto a = open_answers_.front();
  open_answers_.pop_front();
  return a;
}

std::optional<std::string> RecordingPrompts::save_file(const FileDialog& dialog) {
  save_dialogs.push_back(dialog);
  if (save_answers_.empty()) return std::nullopt;
  auto a = save_answers_.front();
  save_answers_.pop_front();
  return a;
}

std::vector<std::string> RecordingPrompts::texts() const {
  std::vector<std::string> result;
  result.reserve(boxes.size());
  for (const auto& b : boxes)
    result.push_back(b.text);
  return result;
}

}  // namespace r7::test

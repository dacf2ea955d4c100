// Prompts on the command line: every box goes to the console output ("[TITLE]
// TEXT", or JSON); questions are answered by --yes / --no, asked on the
// terminal when standard input is one, and answered No / Cancel otherwise.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "cli/console_output.h"
#include "seams/prompts.h"

namespace r7::cli {

enum class AnswerPolicy { Ask, Yes, No };

class ConsolePrompts final : public Prompts {
 public:
  ConsolePrompts(AnswerPolicy policy, ConsoleOutput& out, std::FILE* in = stdin);

  Answer message_box(const MessageBox& box) override;
  // A choice is answered only by the command line (preset_choice), never
  // guessed: without a preset it is cancelled and choice_unanswered() is set.
  // An answered one is printed as "[TITLE] TEXT | Chosen: OPTION".
  std::optional<int> choose(const Choice& choice) override;
  // A file dialog is answered with the preset path of the command line
  // (FILE of `flash FILE`, `save FILE`, ...); without one it is cancelled.
  std::optional<std::string> open_file(const FileDialog& dialog) override;
  std::optional<std::string> save_file(const FileDialog& dialog) override;
  void set_busy(bool) override {}

  void preset_open_file(std::optional<std::string> path) { open_path_ = std::move(path); }
  // Answers open-file dialogs that have no preset path (for example with the
  // default file of the dialog's folder).
  void set_open_resolver(std::function<std::optional<std::string>(const FileDialog&)> resolver) {
    open_resolver_ = std::move(resolver);
  }
  void preset_save_file(std::optional<std::string> path) { save_path_ = std::move(path); }
  void preset_choice(std::optional<int> index) { choice_ = index; }

  // A choice was asked that the command line did not answer.
  bool choice_unanswered() const { return choice_unanswered_; }

  // The first answer that was No or Cancel (commands map it to exit status 4).
  bool declined() const { return declined_; }
  int boxes_shown() const { return boxes_shown_; }

 private:
  std::optional<Answer> ask_terminal(const MessageBox& box);

  AnswerPolicy policy_;
  ConsoleOutput& out_;
  std::FILE* in_;
  std::optional<std::string> open_path_;
  std::optional<std::string> save_path_;
  std::optional<int> choice_;
  std::function<std::optional<std::string>(const FileDialog&)> open_resolver_;
  bool declined_ = false;
  bool choice_unanswered_ = false;
  int boxes_shown_ = 0;
};

}  // namespace r7::cli

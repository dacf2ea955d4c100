// The prompts seam: everything that asks the user something or changes what the
// user sees outside the windows (message boxes, choices, file dialogs, the busy
// pointer).
// A job may call it from a worker thread; the GUI's implementation answers on
// the GUI thread and blocks the caller until the user has answered.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace r7 {

enum class Buttons { Ok, YesNo, RetryCancel, OkCancel, YesNoCancel };
enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Answer { Ok, Cancel, Yes, No, Retry };

struct MessageBox {
  std::string text;   // lines separated by "\r" or "\n" as the caller built them
  std::string title;  // empty: the application's own title
  Icon icon = Icon::None;
  Buttons buttons = Buttons::Ok;
  // Default button; nullopt: the first button of the set.
  std::optional<Answer> default_answer;
};

struct FileDialog {
  std::string title;
  std::string initial_dir;  // empty: the program directory
  std::string file_name;    // preset name or pattern ("731*.S19")
  // Filter list in the "Description|pattern|Description|pattern" form.
  std::string filter;
  std::string default_ext;  // without the dot, may be empty
  bool must_exist = false;  // open dialog: only existing files accepted
  bool hide_read_only = false;
};

// A choice of one among several options.
struct Choice {
  std::string title;  // empty: the application's own title
  std::string text;   // lines separated by "\r" or "\n"
  std::vector<std::string> options;
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual Answer message_box(const MessageBox& box) = 0;
  // The index of the chosen option, or nullopt when the user cancelled.
  virtual std::optional<int> choose(const Choice& choice) = 0;
  // The chosen full path, or nullopt when the user cancelled.
  virtual std::optional<std::string> open_file(const FileDialog& dialog) = 0;
  virtual std::optional<std::string> save_file(const FileDialog& dialog) = 0;
  // Hourglass (true) or normal (false) mouse pointer.
  virtual void set_busy(bool busy) = 0;

  // Shorthand for an OK-only box.
  void message(const std::string& text, const std::string& title = {}, Icon icon = Icon::None) {
    message_box(MessageBox{text, title, icon, Buttons::Ok, std::nullopt});
  }
  // Shorthand for a question; true when answered Yes.
  bool ask_yes(const std::string& text, const std::string& title,
               std::optional<Answer> default_answer = std::nullopt, Icon icon = Icon::Question) {
    return message_box(MessageBox{text, title, icon, Buttons::YesNo, default_answer}) ==
           Answer::Yes;
  }
};

}  // namespace r7

#include "cli/console_prompts.h"

#include <cctype>

#include "os/os.h"

namespace r7::cli {

namespace {

Answer positive(Buttons b) {
  switch (b) {
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
      return Answer::Yes;
    case Buttons::RetryCancel:
      return Answer::Retry;
    case Buttons::Ok:
    case Buttons::OkCancel:
      return Answer::Ok;
  }
  return Answer::Ok;
}

Answer negative(Buttons b) {
  switch (b) {
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
      return Answer::No;
    case Buttons::RetryCancel:
    case Buttons::OkCancel:
      return Answer::Cancel;
    case Buttons::Ok:
      return Answer::Ok;
  }
  return Answer::Ok;
}

const char* choices(Buttons b) {
  switch (b) {
    case Buttons::YesNo:
      return " [y/n] ";
    case Buttons::YesNoCancel:
      return " [y]es/[n]o/[c]ancel ";
    case Buttons::RetryCancel:
      return " [r]etry/[c]ancel ";
    case Buttons::OkCancel:
      return " [o]k/[c]ancel ";
    case Buttons::Ok:
      return "";
  }
  return "";
}

}  // namespace

ConsolePrompts::ConsolePrompts(AnswerPolicy policy, ConsoleOutput& out, std::FILE* in)
    : policy_(policy), out_(out), in_(in) {}

std::optional<Answer> ConsolePrompts::ask_terminal(const MessageBox& box) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::fputs(choices(box.buttons), stdout);
    std::fflush(stdout);
    char line[64];
    if (std::fgets(line, sizeof line, in_) == nullptr) return std::nullopt;
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    switch (box.buttons) {
      case Buttons::YesNo:
        if (c == 'y') return Answer::Yes;
        if (c == 'n') return Answer::No;
        break;
      case Buttons::YesNoCancel:
        if (c == 'y') return Answer::Yes;
        if (c == 'n') return Answer::No;
        if (c == 'c') return Answer::Cancel;
        break;
      case Buttons::RetryCancel:
        if (c == 'r') return Answer::Retry;
        if (c == 'c') return Answer::Cancel;
        break;
      case Buttons::OkCancel:
        if (c == 'o') return Answer::Ok;
        if (c == 'c') return Answer::Cancel;
        break;
      case Buttons::Ok:
        return Answer::Ok;
    }
  }
  return std::nullopt;
}

Answer ConsolePrompts::message_box(const MessageBox& box) {
  ++boxes_shown_;
  Answer answer = Answer::Ok;
  if (box.buttons == Buttons::Ok) {
    answer = Answer::Ok;
  } else if (policy_ == AnswerPolicy::Yes) {
    answer = positive(box.buttons);
  } else if (policy_ == AnswerPolicy::No) {
    answer = negative(box.buttons);
  } else if (os::is_terminal(in_) && !out_.json()) {
    out_.message(box, std::nullopt);
    answer = ask_terminal(box).value_or(negative(box.buttons));
    if (answer == Answer::No || answer == Answer::Cancel) declined_ = true;
    return answer;
  } else {
    answer = negative(box.buttons);
  }
  out_.message(box, answer);
  if (answer == Answer::No || answer == Answer::Cancel) declined_ = true;
  return answer;
}

std::optional<int> ConsolePrompts::choose(const Choice& choice) {
  if (!choice_ || *choice_ < 0 || static_cast<std::size_t>(*choice_) >= choice.options.size()) {
    choice_unanswered_ = true;
    declined_ = true;
    return std::nullopt;
  }
  MessageBox shown;
  shown.title = choice.title;
  shown.text = choice.text + "\rChosen: " + choice.options[static_cast<std::size_t>(*choice_)];
  out_.message(shown, std::nullopt);
  return choice_;
}

std::optional<std::string> ConsolePrompts::open_file(const FileDialog& dialog) {
  std::optional<std::string> path = open_path_;
  if (!path && open_resolver_) path = open_resolver_(dialog);
  if (!path) declined_ = true;
  out_.file("open", path);
  return path;
}

std::optional<std::string> ConsolePrompts::save_file(const FileDialog&) {
  if (!save_path_) declined_ = true;
  out_.file("save", save_path_);
  return save_path_;
}

}  // namespace r7::cli

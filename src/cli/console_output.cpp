#include "cli/console_output.h"

#include "base/numbers.h"

#include <nlohmann/json.hpp>

#include "os/os.h"

namespace r7::cli {

namespace {

using Json = nlohmann::ordered_json;

const char* answer_name(Answer a) {
  switch (a) {
    case Answer::Ok:
      return "Ok";
    case Answer::Cancel:
      return "Cancel";
    case Answer::Yes:
      return "Yes";
    case Answer::No:
      return "No";
    case Answer::Retry:
      return "Retry";
  }
  return "";
}

}  // namespace

ConsoleOutput::ConsoleOutput(bool json, bool quiet, std::FILE* out)
    : json_(json), quiet_(quiet), out_(out), terminal_(os::is_terminal(out) && !json) {}

ConsoleOutput::~ConsoleOutput() {
  clear_line();
}

std::string ConsoleOutput::format(const MessageBox& box) {
  std::string text;
  bool pending_break = false;
  for (char c : box.text) {
    if (c == '\r' || c == '\n') {
      pending_break = true;
      continue;
    }
    if (pending_break && !text.empty()) text += " | ";
    pending_break = false;
    text += c;
  }
  return "[" + box.title + "] " + text;
}

void ConsoleOutput::write_json(const std::string& json_object) {
  std::fputs(json_object.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleOutput::line(const char* kind, const std::string& text) {
  const std::string k = kind;
  if (json_) {
    write_json(
        Json{{"type", k}, {"text", text}}.dump(-1, ' ', false, Json::error_handler_t::replace));
    return;
  }
  if (quiet_ && k != "error" && k != "result") return;
  clear_line();
  const char* prefix = k == "command" ? "> " : k == "response" ? "< " : "";
  std::fprintf(out_, "%s%s\n", prefix, text.c_str());
  std::fflush(out_);
  draw();
}

namespace {

// A box's lines end with CR (or CR LF); JSON texts end them with LF alone.
std::string json_lines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

}  // namespace

void ConsoleOutput::message(const MessageBox& box, std::optional<Answer> answer) {
  if (json_) {
    Json j{{"type", box.buttons == Buttons::Ok ? "message" : "question"},
           {"title", box.title},
           {"text", json_lines(box.text)}};
    if (box.buttons != Buttons::Ok && answer) j["answer"] = answer_name(*answer);
    write_json(j.dump(-1, ' ', false, Json::error_handler_t::replace));
    return;
  }
  clear_line();
  std::string shown = format(box);
  if (box.buttons != Buttons::Ok && answer) shown += " -> " + std::string(answer_name(*answer));
  std::fputs((shown + "\n").c_str(), out_);
  std::fflush(out_);
}

void ConsoleOutput::difference(const std::string& what, std::optional<int> register_no,
                               const std::string& name, const std::string& file_value,
                               const std::string& controller_value) {
  Json j{{"type", "difference"}, {"what", what}};
  j["register"] = register_no ? Json(*register_no) : Json(nullptr);
  j["name"] = name;
  j["file"] = file_value;
  j["controller"] = controller_value;
  write_json(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ConsoleOutput::file(const char* dialog, const std::optional<std::string>& path) {
  if (!json_) return;
  Json j{{"type", "file"}, {"dialog", dialog}};
  j["path"] = path ? Json(*path) : Json(nullptr);
  write_json(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ConsoleOutput::progress(std::uint64_t done, std::uint64_t total, const char* unit) {
  if (total == 0) return;
  if (done == 0 || total_ != total || unit_ != unit) started_ = std::chrono::steady_clock::now();
  done_ = std::min(done, total);
  total_ = total;
  unit_ = unit;
  const int percent = static_cast<int>(100 * done_ / total_);
  if (json_) {
    if (percent == shown_percent_) return;
    shown_percent_ = percent;
    write_json(
        Json{{"type", "progress"}, {"done", done_}, {"total", total_}, {"unit", unit}}.dump());
    return;
  }
  draw();
}

void ConsoleOutput::end_progress() {
  total_ = 0;
  shown_percent_ = -1;
  clear_line();
}

void ConsoleOutput::wait(const std::string& what, std::uint32_t up_to_ms) {
  if (json_) {
    write_json(Json{{"type", "wait"}, {"what", what}, {"up_to_ms", up_to_ms}}.dump());
    return;
  }
  wait_ = what;
  if (up_to_ms > 0) wait_ += " (up to " + std::to_string(up_to_ms / 1000) + " s)";
  wait_ += " ...";
  draw();
}

void ConsoleOutput::end_wait() {
  wait_.clear();
  clear_line();
  draw();
}

void ConsoleOutput::outcome(const std::optional<Outcome>& outcome, int exit_status) {
  clear_line();
  if (!json_) return;
  Json j{{"type", "outcome"}, {"exit_status", exit_status}};
  if (outcome) {
    j["ending"] = ending_name(outcome->ending);
    if (!outcome->step.empty()) j["step"] = outcome->step;
    if (outcome->refused > 0) j["refused"] = outcome->refused;
    if (outcome->skipped > 0) j["skipped"] = outcome->skipped;
    if (outcome->differences > 0) j["differences"] = outcome->differences;
  }
  write_json(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ConsoleOutput::clear_line() {
  if (!drawn_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

// "[#########           ]  45 %  123/281 lines  0:05 elapsed  0:06 left", or
// the wait in progress.
void ConsoleOutput::draw() {
  if (!terminal_ || quiet_) return;
  if (!wait_.empty()) {
    std::fprintf(out_, "\r%s\033[K", wait_.c_str());
  } else if (total_ > 0) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
    const int percent = static_cast<int>(100 * done_ / total_);
    if (drawn_ && percent == shown_percent_ && elapsed == shown_second_) return;
    shown_percent_ = percent;
    shown_second_ = elapsed;
    constexpr int kWidth = 20;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), ' ');
    std::string left = "?";
    if (done_ > 0) {
      left = minutes_seconds(static_cast<std::int64_t>(static_cast<double>(elapsed) *
                                                       static_cast<double>(total_ - done_) /
                                                       static_cast<double>(done_)));
    }
    std::fprintf(out_, "\r[%s] %3d %%  %llu/%llu %s  %s elapsed  %s left\033[K", bar.c_str(),
                 percent, static_cast<unsigned long long>(done_),
                 static_cast<unsigned long long>(total_), unit_, minutes_seconds(elapsed).c_str(),
                 left.c_str());
  } else {
    return;
  }
  std::fflush(out_);
  drawn_ = true;
}

}  // namespace r7::cli

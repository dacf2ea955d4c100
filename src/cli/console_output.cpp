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

void ConsoleOutput::attach(StationBoard& board, std::size_t station) {
  board_ = &board;
  station_ = station;
  terminal_ = board.live();
}

void ConsoleOutput::write_json(Json object) {
  if (board_ != nullptr) {
    Json named{{"station", board_->name(station_)}};
    for (auto& [key, value] : object.items())
      named[key] = std::move(value);
    board_->print_plain(named.dump(-1, ' ', false, Json::error_handler_t::replace));
    return;
  }
  std::fputs(object.dump(-1, ' ', false, Json::error_handler_t::replace).c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

// A line of text: led by the station's name when there are several.
void ConsoleOutput::write_text(const std::string& text) {
  if (board_ != nullptr) {
    board_->print(station_, text);
    // The live line shows the latest line until the next progress or wait.
    if (wait_.empty()) board_->set_status(station_, text);
    drawn_ = false;
    return;
  }
  clear_line();
  std::fputs((text + "\n").c_str(), out_);
  std::fflush(out_);
  draw();
}

void ConsoleOutput::line(const char* kind, const std::string& text) {
  const std::string k = kind;
  if (json_) {
    write_json(Json{{"type", k}, {"text", text}});
    return;
  }
  if (quiet_ && k != "error" && k != "result") return;
  const char* prefix = k == "command" ? "> " : k == "response" ? "< " : "";
  write_text(prefix + text);
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
    write_json(j);
    return;
  }
  std::string shown = format(box);
  if (box.buttons != Buttons::Ok && answer) shown += " -> " + std::string(answer_name(*answer));
  write_text(shown);
}

void ConsoleOutput::difference(const std::string& what, std::optional<int> register_no,
                               const std::string& name, const std::string& file_value,
                               const std::string& controller_value) {
  Json j{{"type", "difference"}, {"what", what}};
  j["register"] = register_no ? Json(*register_no) : Json(nullptr);
  j["name"] = name;
  j["file"] = file_value;
  j["controller"] = controller_value;
  write_json(j);
}

void ConsoleOutput::file(const char* dialog, const std::optional<std::string>& path) {
  if (!json_) return;
  Json j{{"type", "file"}, {"dialog", dialog}};
  j["path"] = path ? Json(*path) : Json(nullptr);
  write_json(j);
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
    write_json(Json{{"type", "progress"}, {"done", done_}, {"total", total_}, {"unit", unit}});
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
    write_json(Json{{"type", "wait"}, {"what", what}, {"up_to_ms", up_to_ms}});
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
  write_json(j);
}

void ConsoleOutput::clear_line() {
  if (!drawn_) return;
  drawn_ = false;
  if (board_ != nullptr) return;  // the live line stays until the station's next line
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
}

// "[#########           ]  45 %  123/281 lines  0:05 elapsed  0:06 left", or
// the wait in progress.
void ConsoleOutput::draw() {
  if (!terminal_ || quiet_) return;
  std::string text;
  if (!wait_.empty()) {
    text = wait_;
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
    char line[160];
    std::snprintf(line, sizeof line, "[%s] %3d %%  %llu/%llu %s  %s elapsed  %s left", bar.c_str(),
                  percent, static_cast<unsigned long long>(done_),
                  static_cast<unsigned long long>(total_), unit_, minutes_seconds(elapsed).c_str(),
                  left.c_str());
    text = line;
  } else {
    return;
  }
  drawn_ = true;
  if (board_ != nullptr) {
    board_->set_status(station_, text);
    return;
  }
  std::fprintf(out_, "\r%s\033[K", text.c_str());
  std::fflush(out_);
}

}  // namespace r7::cli

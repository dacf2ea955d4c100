#include "setup/setup_compare.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <set>
#include <system_error>

#include "base/run_error.h"
#include "base/text_table.h"
#include "modbus/registers.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"
#include "setup/setup_reading.h"

namespace r7 {

namespace {

// The name registers of all profiles, and the settings of the selected step.
constexpr int kNameRegistersEnd = reg::kProfileSelect;
constexpr int kStepRegistersEnd = 4100;

bool is_name_register(int r) {
  return r >= reg::kProfileNameBase && r < kNameRegistersEnd;
}

bool is_step_register(int r) {
  return r >= reg::kStepSettingFirst && r < kStepRegistersEnd;
}

using Values = std::map<int, int>;  // register -> value

struct StepImage {
  std::optional<int> type;
  Values values;
};

struct ProfileImage {
  Values name;  // character k -> code
  std::map<int, StepImage> steps;
  Values end_step;
};

// What a restore of the lines leaves in a controller.
struct SetupImage {
  Values registers;
  std::map<int, ProfileImage> profiles;
};

// Reads the lines as a restore writes them: 4000 selects a profile, 4001 a
// step, 4002 1 creates the profile (its end step selected), 4003 gives the
// selected step its type (an ordinary step; the end step's type is never
// written). Name and step registers belong to the selected profile.
SetupImage image_of(const std::vector<std::string>& lines) {
  SetupImage image;
  int profile = 0;     // selected; 0 before the first selection
  int step = 0;        // selected
  bool typed = false;  // the selected step got a type: an ordinary step
  for (const std::string& line : lines) {
    const DataLine d = parse_data_line(line);
    if (d.kind != DataLine::Kind::Data) continue;
    const int r = d.register_no;
    if (r == reg::kProfileSelect) {
      profile = d.value;
      step = 0;
      typed = false;
    } else if (r == reg::kStepSelect) {
      step = d.value;
      typed = false;
    } else if (r == reg::kRestart) {
      // the controller stores its setup: no setting
    } else if (r == reg::kProfileCommand) {
      if (profile > 0 && d.value == reg::kProfileCreate) image.profiles[profile];
    } else if (profile > 0 && r == reg::kStepType) {
      image.profiles[profile].steps[step].type = d.value;
      typed = true;
    } else if (profile > 0 && is_name_register(r)) {
      image.profiles[profile].name[(r - reg::kProfileNameBase) % reg::kProfileNameLength] = d.value;
    } else if (profile > 0 && is_step_register(r)) {
      ProfileImage& p = image.profiles[profile];
      (typed ? p.steps[step].values : p.end_step)[r] = d.value;
    } else {
      image.registers[r] = d.value;
    }
  }
  return image;
}

std::string name_text(const Values& name) {
  std::string text;
  for (int k = 0; k < reg::kProfileNameLength; ++k) {
    const auto c = name.find(k);
    const int code = c == name.end() ? ' ' : c->second;
    text += code >= 32 && code <= 126 ? static_cast<char>(code) : '?';
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

std::string summary(const ProfileImage& p) {
  const std::size_t steps = p.steps.size() + 1;  // and the end step
  return name_text(p.name) + ", " + std::to_string(steps) + (steps == 1 ? " step" : " steps");
}

template <class Map>
std::set<int> keys_of(const Map& a, const Map& b) {
  std::set<int> keys;
  for (const auto& [k, v] : a)
    keys.insert(k);
  for (const auto& [k, v] : b)
    keys.insert(k);
  return keys;
}

template <class Map>
const typename Map::mapped_type* find_in(const Map& map, int key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

std::string text_of(const int* value) {
  return value == nullptr ? kAbsent : std::to_string(*value);
}

class Comparer {
 public:
  Comparer(const RegisterNames& names, CompareScope scope) : names_(names), scope_(scope) {}

  void registers(const Values& file, const Values& controller) {
    for (const int r : keys_of(file, controller)) {
      const int* f = find_in(file, r);
      if (f == nullptr && scope_ == CompareScope::FileRegisters) continue;
      values("Register", r, f, find_in(controller, r));
    }
  }

  void profiles(const std::map<int, ProfileImage>& file,
                const std::map<int, ProfileImage>& controller) {
    for (const int p : keys_of(file, controller)) {
      const std::string what = "Profile " + std::to_string(p);
      const ProfileImage* f = find_in(file, p);
      const ProfileImage* c = find_in(controller, p);
      if (f == nullptr || c == nullptr) {
        out_.push_back(
            {what, std::nullopt, "", f ? summary(*f) : kAbsent, c ? summary(*c) : kAbsent});
        continue;
      }
      if (f->name != c->name) {
        out_.push_back({what + " name", std::nullopt, "", name_text(f->name), name_text(c->name)});
      }
      for (const int s : keys_of(f->steps, c->steps))
        step(what + " step " + std::to_string(s), find_in(f->steps, s), find_in(c->steps, s));
      for (const int r : keys_of(f->end_step, c->end_step))
        values(what + " end step", r, find_in(f->end_step, r), find_in(c->end_step, r));
    }
  }

  std::vector<SetupDifference> take() { return std::move(out_); }

 private:
  void step(const std::string& what, const StepImage* f, const StepImage* c) {
    const auto type_text = [](const StepImage* s) {
      return s == nullptr || !s->type ? std::string(kAbsent) : std::to_string(*s->type);
    };
    if (f == nullptr || c == nullptr || f->type != c->type) {
      out_.push_back({what, reg::kStepType, "Step type", type_text(f), type_text(c)});
    }
    if (f == nullptr || c == nullptr) return;  // one row for a step only one side has
    for (const int r : keys_of(f->values, c->values))
      values(what, r, find_in(f->values, r), find_in(c->values, r));
  }

  void values(const std::string& what, int r, const int* f, const int* c) {
    if (f != nullptr && c != nullptr && *f == *c) return;
    const auto name = names_.find(r);
    out_.push_back({what, r, name == names_.end() ? "" : name->second, text_of(f), text_of(c)});
  }

  const RegisterNames& names_;
  CompareScope scope_;
  std::vector<SetupDifference> out_;
};

// The words after a register line's number.
std::string description_of(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0)
    ++i;
  const std::string_view rest = text.substr(i);
  const auto first = rest.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(rest.substr(first, rest.find_last_not_of(" \t") - first + 1));
}

std::optional<int> leading_number(std::string_view text) {
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return n;
}

// The .cds file's register lines and the register lines of the .pds file's
// sections (the first description of a register counts); `pds` is empty for a
// model without profiles.
RegisterNames register_names(const DownloadSequence& cds, const std::filesystem::path& pds) {
  RegisterNames names;
  for (const TextLine& line : cds.register_lines()) {
    if (const auto r = leading_number(line.text)) names.emplace(*r, description_of(line.text));
  }
  std::error_code ec;
  if (pds.empty() || !std::filesystem::exists(pds, ec)) return names;
  bool in_sections = false;
  for (const TextLine& line : read_text_lines(pds)) {
    if (!line.text.empty() && line.text.front() == '[') in_sections = true;
    if (!in_sections) continue;
    if (const auto r = leading_number(line.text)) names.emplace(*r, description_of(line.text));
  }
  return names;
}

// The data lines of a setup: a list for the compare.
struct LineList final : SetupLineSink {
  void write_line(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

}  // namespace

std::string difference_line(const SetupDifference& d) {
  std::string line = d.what;
  if (d.register_no) {
    line += (d.what == "Register" ? " " : ", register ") + std::to_string(*d.register_no);
  }
  if (!d.name.empty()) line += " (" + d.name + ")";
  return line + ": file " + d.file_value + ", controller " + d.controller_value;
}

std::vector<std::string> difference_table(const std::vector<SetupDifference>& differences) {
  std::vector<std::vector<std::string>> rows{{"What", "Register", "Name", "File", "Controller"}};
  for (const SetupDifference& d : differences) {
    rows.push_back({d.what, d.register_no ? std::to_string(*d.register_no) : "", d.name,
                    d.file_value, d.controller_value});
  }
  return text_table(rows);
}

std::vector<SetupDifference> compare_setup_lines(const std::vector<std::string>& file_lines,
                                                 const std::vector<std::string>& controller_lines,
                                                 const RegisterNames& names, CompareScope scope) {
  const SetupImage file = image_of(file_lines);
  const SetupImage controller = image_of(controller_lines);
  Comparer comparer(names, scope);
  comparer.registers(file.registers, controller.registers);
  comparer.profiles(file.profiles, controller.profiles);
  return comparer.take();
}

SetupComparison::SetupComparison(RegisterAccess& access, Prompts& prompts, SetupSession& session,
                                 const ProgramDir& program_dir)
    : access_(access), prompts_(prompts), session_(session), program_dir_(program_dir) {}

Outcome SetupComparison::run(const TextLines& file, const std::string& model, CompareScope scope) {
  differences_.clear();
  const auto cds_path = program_dir_.sequences_dir() / (model + ".cds");
  std::error_code ec;
  if (!std::filesystem::exists(cds_path, ec)) {
    prompts_.message("Do not have correct download file sequence for this model of control!",
                     "Download Sequence File", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  SetupReading reading(access_, prompts_, session_, program_dir_, SetupReading::Purpose::Check);
  LineList controller;
  RegisterNames names;
  try {
    const DownloadSequence cds(read_text_lines(cds_path), cds_path.string());
    names = register_names(cds, cds.has_profiles() ? program_dir_.sequences_dir() / (model + ".pds")
                                                   : std::filesystem::path());
    session_.view().set_progress_range(0, static_cast<int>(cds.line_count()));
    if (reading.read(cds, model, controller) == SetupReading::Walk::Cancelled) {
      return reading.outcome().completed() ? Outcome(Ending::Cancelled) : reading.outcome();
    }
  } catch (const RunError& e) {
    show_error_message(prompts_, e.number(), e.file());
    Outcome o(is_sequence_file(e.file()) ? Ending::FileProblem : Ending::Failed);
    o.error_number = e.number();
    return o;
  }
  std::vector<std::string> file_lines;
  for (std::size_t i = static_cast<std::size_t>(kSetupHeaderLines); i < file.size(); ++i)
    file_lines.push_back(file[i].text);
  differences_ = compare_setup_lines(file_lines, controller.lines, names, scope);
  Outcome o(differences_.empty() ? Ending::Completed : Ending::Differs);
  o.differences = static_cast<int>(differences_.size());
  o.refused = session_.refusals();
  return o;
}

CompareSetup::CompareSetup(Comms& comms, Prompts& prompts, SetupSession& session,
                           const ProgramDir& program_dir, int address)
    : prompts_(prompts),
      session_(session),
      program_dir_(program_dir),
      access_(comms, prompts, session, address) {}

Outcome CompareSetup::compare_setup() {
  differences_.clear();
  ChosenSetupFile chosen;
  const std::optional<Outcome> stop =
      choose_setup_file(prompts_, program_dir_.setups_dir().string(), "Compare", chosen);
  file_ = chosen.path;
  if (stop) return *stop;
  const TextLines& lines = chosen.lines;
  const SetupFileCheck& check = chosen.check;
  session_.clear_errors();
  try {
    const ValueRead model = access_.read_value_or_ask(reg::kDeviceType);
    if (!model.answered()) {
      prompts_.message(
          access_.no_answer_text("Compare has been canceled. Need to check Comm Port Settings."),
          "Communication Error", Icon::Critical);
      return Outcome(Ending::NoController);
    }
    if (!check.model || number_text(*check.model) != model.text()) {
      differences_.push_back({"Model", reg::kDeviceType, "Model number",
                              check.model ? number_text(*check.model) : kAbsent, model.text()});
      Outcome o(Ending::Differs);
      o.differences = 1;
      return o;
    }
    session_.lock(true);
    prompts_.set_busy(true);
    session_.view().set_progress_visible(true);
    session_.show("******Beginning  Compare******");
    SetupComparison comparison(access_, prompts_, session_, program_dir_);
    const Outcome o = comparison.run(lines, model.text(), CompareScope::Everything);
    differences_ = comparison.differences();
    const bool compared = o.completed() || o.ending == Ending::Differs;
    return end(o, compared ? "*******Compare Complete*******" : "*******Compare Canceled*******");
  } catch (const RunError& e) {
    // A request that cannot be framed gets here.
    show_error_message(prompts_, e.number(), e.file());
    Outcome o(Ending::Failed);
    o.error_number = e.number();
    return end(o, "*******Compare Canceled*******");
  }
}

Outcome CompareSetup::end(Outcome outcome, const std::string& history_line) {
  session_.show(history_line);
  session_.view().set_progress_visible(false);
  session_.view().set_progress_value(0);
  prompts_.set_busy(false);
  session_.lock(false);
  return outcome;
}

}  // namespace r7

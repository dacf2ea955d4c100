// The service log: one line of JSON for every job that talked to a
// controller, appended to "service-log.jsonl" in the program directory, so
// that months later it shows which software and which setup went into a
// controller, from which file, and how the job ended. It names files; it
// never holds setup values.
//
// A front end records a job in three steps:
//
//   ServiceLog log(clock, program_dir);
//   ServiceRecord record = log.begin("flash", device);  // start time, version, user
//   ... the job; fill in what it read: model, serial_number, file, ...
//   record.set_outcome(outcome);
//   if (std::string why = log.finish(record); !why.empty()) { warn, never fail }
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_dir.h"
#include "base/outcome.h"
#include "seams/clock.h"

namespace r7 {

inline constexpr const char* kServiceLogName = "service-log.jsonl";

// A file a job used, as it was when the job ended.
struct ServiceFile {
  std::string path;
  std::optional<std::uintmax_t> size;  // nullopt when it could not be read
  std::optional<std::string> sha256;   // 64 lower-case hex digits
};

// The path, size and SHA-256 of `path` (size and digest unset when it cannot
// be read).
ServiceFile describe_file(const std::filesystem::path& path);

// One job. Whatever the job did not learn stays unset and is written as null.
struct ServiceRecord {
  LocalTime start;
  LocalTime end;
  std::string version;  // the tool's (kVersionText)
  std::optional<std::string> user;
  std::string station;  // the device the job talked through: "/dev/ttyUSB0", "COM3", ...
  std::string job;      // "identify", "flash", "save", "restore", "compare", "online", ...
  // The controller as the job read it (or as the setup file names it).
  std::optional<int> model;
  std::optional<std::string> serial_number;
  std::optional<int> software_number;
  std::optional<int> revision;
  std::optional<ServiceFile> file;    // firmware or setup file
  std::optional<std::string> backup;  // the setup saved before a download
  // How it ended: ending_name() of its Outcome, or "stopped by SIGTERM".
  std::string ending;
  int refused = 0;
  int skipped = 0;
  int differences = 0;
  std::string step;  // the step that failed; empty when none did
  int error_number = 0;
  std::optional<int> exit_status;  // the command line's; unset from the windows

  // Ending, counts, failed step and error number from the job's outcome.
  void set_outcome(const Outcome& outcome);
};

// "2026-12-07T14:03:59+01:00".
std::string iso_time_text(const LocalTime& t);
// The inverse of iso_time_text ("Z" for a zero offset as well); nullopt for
// anything else.
std::optional<LocalTime> parse_iso_time(std::string_view text);

// The record as one JSON object without the line end. Strings are escaped as
// JSON asks; bytes that are not UTF-8 are taken as Latin-1, so every line is
// valid JSON whatever a path holds.
std::string service_record_json(const ServiceRecord& record);
// A line of the log read back; nullopt when it is damaged (not a flat JSON
// object of strings, numbers and nulls, or without start, job and ending).
// Names it does not know are passed over.
std::optional<ServiceRecord> parse_service_record(std::string_view line);

// What `history` lists: everything, or one controller, or from a time on.
struct HistoryFilter {
  std::optional<std::string> serial_number;
  std::optional<LocalTime> since;  // compared with the start as the writer's local time

  bool admits(const ServiceRecord& record) const;
};
// "2026-12-07", "2026-12-07 14:03", "2026-12-07T14:03:59" (the time part with
// a blank or a T); nullopt for anything else.
std::optional<LocalTime> parse_since(std::string_view text);

struct ServiceLogEntries {
  std::vector<ServiceRecord> records;  // in the order they were written, newest last
  std::size_t damaged = 0;             // lines skipped as damaged
  bool missing = false;                // there is no log yet
  bool unreadable = false;             // there is one, but it cannot be read
};

// The log's records that `filter` admits; a log that cannot be read is empty.
ServiceLogEntries read_service_log(const std::filesystem::path& file,
                                   const HistoryFilter& filter = {});
// The same one record at a time, with its line as written (without its end),
// for a reader that need not keep them all; `records` of the result stays empty.
using ServiceLogVisitor = std::function<void(ServiceRecord&&, std::string_view line)>;
ServiceLogEntries scan_service_log(const std::filesystem::path& file, const HistoryFilter& filter,
                                   const ServiceLogVisitor& each);

class ServiceLog {
 public:
  ServiceLog(Clock& clock, const ProgramDir& program_dir);
  ServiceLog(Clock& clock, std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }
  // A record of `job` on `station` begun now: start time, version, user.
  ServiceRecord begin(std::string job, std::string station);
  // Sets the end time and appends the record as one line in a single write:
  // a crash or a second program writing at the same time never damages
  // another line. "" when written, else why not (the job goes on: a warning).
  std::string finish(ServiceRecord& record);

 private:
  Clock& clock_;
  std::filesystem::path file_;
};

// The columns of the history, in the command line's table and the window.
inline constexpr std::array<const char*, 11> kHistoryColumns = {
    "Start",    "User",     "Station", "Job",     "Model", "Serial number",
    "Software", "Revision", "File",    "Outcome", "Exit"};
// The cells of one row: the start without its offset, the file's name
// without its folder, the outcome with its counts and failed step.
std::array<std::string, kHistoryColumns.size()> history_cells(const ServiceRecord& record);
// The whole record as "Name: value" lines (LF between), for a service report.
std::string service_report_text(const ServiceRecord& record);

}  // namespace r7

// Run-time errors carry the error number the handling code decides on (57
// device I/O error, 68 device unavailable, 53 file not found, 62 input past
// end of file, ...). The job that owns the decision catches them; they never
// cross a job's public boundary.
#pragma once

#include <stdexcept>
#include <string>

namespace r7 {

class RunError : public std::runtime_error {
 public:
  RunError(int number, const std::string& what, std::string file = {})
      : std::runtime_error(what), number_(number), file_(std::move(file)) {}

  int number() const { return number_; }
  // The file involved, when there is one (error 53 names it in its message).
  const std::string& file() const { return file_; }

 private:
  int number_;
  std::string file_;
};

// An error the program cannot go on after (a number outside the message
// table, a selection that names no files). It passes through every job;
// main() catches it, so destructors run and files are closed, and ends the
// program with `exit_code`.
class ProgramEnd : public std::runtime_error {
 public:
  explicit ProgramEnd(const std::string& what, int exit_code = 1)
      : std::runtime_error(what), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

// A stop asked for from outside the job (a signal to the command line), thrown
// by the serial link before it sends the next message: the job ends between
// two exchanges. Like ProgramEnd it passes through every job; destructors put
// line settings back and remove temporary files on the way.
class JobStopped : public std::runtime_error {
 public:
  explicit JobStopped(int signal)
      : std::runtime_error("stopped by signal " + std::to_string(signal)), signal_(signal) {}
  int signal() const { return signal_; }

 private:
  int signal_;
};

// Error numbers the code acts on.
namespace err {
inline constexpr int kIllegalFunctionCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;  // also: a file too large to be what it should be
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kFileNotFound = 53;
inline constexpr int kDeviceIo = 57;
inline constexpr int kFileAlreadyExists = 58;
inline constexpr int kInputPastEnd = 62;
inline constexpr int kDeviceUnavailable = 68;
inline constexpr int kDeviceIoAlt = 69;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
}  // namespace err

}  // namespace r7

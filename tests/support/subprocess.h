// Child processes for tests: run a program to its end with its output
// captured, or keep one running in the background for the test's length.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace r7::test {

struct ProcessResult {
  int exit_code = -1;  // -1 when it did not end by itself (killed after the time-out)
  std::string out;
  std::string err;
};

// Runs argv[0] (searched in PATH) with the arguments, in `directory` when one
// is given ("Flash.ERR" lands in the current directory); kills it after `timeout`.
ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::string& directory = {});

// A program running until the object goes (SIGTERM, then SIGKILL if need be).
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& argv);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// Whether `program` is found in PATH.
bool program_available(const std::string& program);

}  // namespace r7::test

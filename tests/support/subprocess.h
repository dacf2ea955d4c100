// Child processes for tests: a program kept running while the test talks to
// it (its standard output read line by line), or run to its end with its
// output captured.
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

class Process {
 public:
  // Starts `program` (searched in PATH) with `args`, in `directory` when one is
  // given; its standard error is the test's unless `capture_err`. Throws
  // std::runtime_error when it cannot.
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::string& directory = {}, bool capture_err = false);
  ~Process();  // SIGTERM and wait, if still running
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line of standard output without its line end; "" after
  // `timeout_ms` or at the end of the output.
  std::string read_line(int timeout_ms);
  void signal(int sig);
  // Waits up to `timeout_ms` for the process to end: its exit status, or -1
  // (then it is killed).
  int wait(int timeout_ms);
  // Reads the outputs to their end (killing the program after `timeout`) and
  // waits for it.
  ProcessResult finish(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string buffer_;  // standard output not yet taken
};

// Runs argv[0] with the arguments to its end, in `directory` when one is given
// ("Flash.ERR" lands in the current directory); kills it after `timeout`.
ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::string& directory = {});

}  // namespace r7::test

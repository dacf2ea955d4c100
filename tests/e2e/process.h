// A child process for end-to-end tests: started with posix_spawn, its standard
// output read line by line with a time limit, ended with a signal.
#pragma once

#include <string>
#include <vector>

namespace r7::test {

class Process {
 public:
  // Starts `program` with `args`; throws std::runtime_error when it cannot.
  Process(const std::string& program, const std::vector<std::string>& args);
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

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace r7::test

#include "support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace r7::test {

namespace {

int ms_until(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::string& directory, bool capture_err) {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || (capture_err && pipe2(err, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (capture_err) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : {out[1], err[1]})
    if (fd >= 0) close(fd);
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
}

Process::~Process() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    wait(5000);
  }
  for (int fd : {out_, err_})
    if (fd >= 0) close(fd);
}

std::string Process::read_line(int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, ms_until(end)) <= 0) return {};
    char chunk[256];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void Process::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int Process::wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessResult Process::finish(std::chrono::milliseconds timeout) {
  ProcessResult result;
  result.out = std::exchange(buffer_, {});
  const auto end = std::chrono::steady_clock::now() + timeout;
  int* fds[2] = {&out_, &err_};
  std::string* sinks[2] = {&result.out, &result.err};
  bool killed = false;
  while (out_ >= 0 || err_ >= 0) {
    if (!killed && ms_until(end) == 0) {
      kill(pid_, SIGKILL);
      killed = true;
    }
    pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(p, 2, killed ? 100 : ms_until(end)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] < 0 || p[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = read(*fds[i], chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(n));
      } else {
        close(*fds[i]);
        *fds[i] = -1;
      }
    }
  }
  result.exit_code = wait(5000);
  return result;
}

ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::string& directory) {
  try {
    return Process(argv[0], {argv.begin() + 1, argv.end()}, directory, true).finish(timeout);
  } catch (const std::runtime_error& e) {
    ProcessResult result;
    result.err = e.what();
    return result;
  }
}

}  // namespace r7::test

#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "sim/state_file.h"

namespace r7::sim {

namespace {

// The state file is written once the line has been quiet this long.
constexpr std::uint64_t kSaveQuietMs = 300;
// Pause after an unexpected read error on the master, so that it cannot spin.
constexpr int kErrorPauseMs = 50;

constexpr std::array<std::pair<speed_t, int>, 19> kSpeeds{{
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
}};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  return set;
}

// RAII for the signalfd.
class SignalFd {
 public:
  SignalFd() {
    const sigset_t set = stop_signals();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) fail("signalfd");
  }
  ~SignalFd() { close_fd(fd_); }
  SignalFd(const SignalFd&) = delete;
  SignalFd& operator=(const SignalFd&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace

PtyServer::PtyServer(Controller& controller, Options options)
    : controller_(controller), options_(std::move(options)), port_(controller.attach_port()) {}

PtyServer::~PtyServer() {
  close_pty();
  controller_.detach_port(port_);
}

void PtyServer::block_signals() {
  const sigset_t set = stop_signals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

std::string PtyServer::open() {
  close_pty();
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) fail("grantpt/unlockpt");
  std::array<char, 128> name{};
  if (ptsname_r(master_, name.data(), name.size()) != 0) fail("ptsname_r");
  path_ = name.data();
  if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl");
  fcntl(master_, F_SETFD, FD_CLOEXEC);

  slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) fail("open " + path_);
  termios t{};
  if (tcgetattr(slave_, &t) != 0) fail("tcgetattr");
  cfmakeraw(&t);  // no echo, no line editing until a client sets its own
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(slave_, TCSANOW, &t) != 0) fail("tcsetattr");

  if (options_.link) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_symlink(*options_.link, ec)) {
      fs::remove(*options_.link, ec);
    } else if (fs::exists(*options_.link, ec)) {
      throw std::runtime_error(options_.link->string() + " exists and is not a symbolic link");
    }
    fs::create_symlink(path_, *options_.link, ec);
    if (ec)
      throw std::runtime_error("cannot link " + options_.link->string() + ": " + ec.message());
  }
  controller_.drop_all(port_);
  return path_;
}

void PtyServer::close_pty() {
  if (options_.link && !path_.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(*options_.link, ec) &&
        std::filesystem::read_symlink(*options_.link, ec) == path_) {
      std::filesystem::remove(*options_.link, ec);
    }
  }
  close_fd(slave_);
  close_fd(master_);
}

std::string PtyServer::line_settings() const {
  termios t{};
  if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return "9600,N,8,1";
  const speed_t speed = cfgetospeed(&t);
  int baud = 0;
  for (const auto& [code, rate] : kSpeeds) {
    if (code == speed) baud = rate;
  }
  const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : ((t.c_cflag & PARODD) != 0 ? 'O' : 'E');
  int bits = 8;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      bits = 5;
      break;
    case CS6:
      bits = 6;
      break;
    case CS7:
      bits = 7;
      break;
    default:
      break;
  }
  const int stop = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return std::to_string(baud) + "," + parity + "," + std::to_string(bits) + "," +
         std::to_string(stop);
}

void PtyServer::deliver() {
  const std::string out = controller_.take_due(port_);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::write(master_, out.data() + done, out.size() - done);
    if (n <= 0) break;  // nobody reads: what does not fit is lost, as on a line
    done += static_cast<std::size_t>(n);
  }
}

void PtyServer::save_state(bool always) {
  if (!options_.state_file || (!always && saved_changes_ == controller_.changes())) return;
  try {
    save_state_file(controller_, *options_.state_file);
    saved_changes_ = controller_.changes();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "r7sim: %s\n", e.what());
    saved_changes_ = controller_.changes();  // do not retry on every pass
  }
}

void PtyServer::run(const std::function<void(const std::string&)>& announce) {
  SignalFd signals;
  saved_changes_ = controller_.changes();
  std::size_t hangups = 0;
  std::uint64_t last_activity = controller_.now_ms();
  std::array<char, 4096> buffer{};

  for (;;) {
    deliver();
    const std::uint64_t now = controller_.now_ms();
    if (now >= last_activity + kSaveQuietMs) save_state(false);

    int timeout = -1;
    if (const auto next = controller_.next_due_ms(port_)) {
      timeout = static_cast<int>(std::min<std::uint64_t>(*next > now ? *next - now : 0, 60000));
    }
    if (options_.state_file && saved_changes_ != controller_.changes()) {
      const std::uint64_t quiet_at = last_activity + kSaveQuietMs;
      const int until_save = static_cast<int>(quiet_at > now ? quiet_at - now : 0);
      timeout = timeout < 0 ? until_save : std::min(timeout, until_save);
    }

    std::array<pollfd, 2> fds{{{master_, POLLIN, 0}, {signals.fd(), POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if ((fds[1].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signals.fd(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
          controller_.power_cycle();
          std::fprintf(stderr, "r7sim: power cycled\n");
        } else {
          break;
        }
      }
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n > 0 && controller_.hangup_ms(hangups)) {
        // The line dropped after the last reply: this request finds it dead.
        ++hangups;
        announce(open());
      } else if (n > 0) {
        controller_.receive(port_, std::string_view(buffer.data(), static_cast<std::size_t>(n)),
                            line_settings());
        last_activity = controller_.now_ms();
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        ::poll(nullptr, 0, kErrorPauseMs);
      }
    }
  }
  save_state(true);
}

}  // namespace r7::sim

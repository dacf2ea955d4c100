#include "support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace r7::test {

namespace {

void make_raw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

timespec add(timespec t, std::chrono::nanoseconds d) {
  const long long ns = t.tv_nsec + d.count();
  t.tv_sec += static_cast<time_t>(ns / 1000000000LL);
  t.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return t;
}

timespec now_mono() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

void sleep_until(const timespec& t) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {
  }
}

}  // namespace

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
  device_ = name;
  make_raw(master_);
  slave_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY);
  if (slave_ >= 0) make_raw(slave_);
}

PtyPeer::~PtyPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void PtyPeer::start(std::function<void(PtyPeer&)> serve) {
  thread_ = std::thread([this, serve = std::move(serve)] { serve(*this); });
}

std::optional<std::string> PtyPeer::read_exactly(std::size_t n, std::chrono::milliseconds timeout) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (got.size() < n && !stop_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{master_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    if (ready <= 0 || (p.revents & POLLIN) == 0) continue;
    char buf[256];
    const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
    if (r > 0) got.append(buf, static_cast<std::size_t>(r));
  }
  if (got.size() < n) return std::nullopt;
  return got;
}

void PtyPeer::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (w <= 0) return;
    done += static_cast<std::size_t>(w);
  }
}

void PtyPeer::send_paced(const std::string& bytes, int baud, int chunk_ms) {
  const auto char_time = std::chrono::nanoseconds(11LL * 1000000000LL / baud);
  const timespec start = now_mono();
  if (chunk_ms <= 0) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      sleep_until(add(start, char_time * static_cast<long long>(i + 1)));
      send(bytes.substr(i, 1));
    }
    return;
  }
  // Byte i has arrived at the adapter after (i + 1) character times; the
  // adapter hands over what it holds every chunk_ms.
  const auto chunk = std::chrono::nanoseconds(static_cast<long long>(chunk_ms) * 1000000LL);
  std::size_t sent = 0;
  for (long long k = 1; sent < bytes.size(); ++k) {
    const auto at = chunk * k;
    std::size_t arrived = static_cast<std::size_t>(at / char_time);
    arrived = std::min(arrived, bytes.size());
    if (arrived > sent) {
      sleep_until(add(start, at));
      send(bytes.substr(sent, arrived - sent));
      sent = arrived;
    }
  }
}

void PtyPeer::hang_up() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::chrono::microseconds thread_cpu_time() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

}  // namespace r7::test

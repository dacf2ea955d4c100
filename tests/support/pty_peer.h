// A pseudo-terminal pair for tests and benchmarks on the real serial port
// adapter: the program under test opens device() like any serial port, and a
// scripted peer drives the master side from its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace r7::test {

class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // The slave side's device path ("/dev/pts/7").
  const std::string& device() const { return device_; }

  // Runs `serve` on the peer thread; the destructor stops and joins it
  // (serve should return once stopping() is true).
  void start(std::function<void(PtyPeer&)> serve);
  bool stopping() const { return stop_.load(); }

  // For serve functions. Reads exactly `n` bytes; nullopt when they did not
  // come within `timeout` or the peer is stopping.
  std::optional<std::string> read_exactly(std::size_t n, std::chrono::milliseconds timeout);
  // Sends at once.
  void send(const std::string& bytes);
  // Sends one byte every 11 bit times at `baud`, as a UART does; with
  // chunk_ms > 0 the bytes that have "arrived" so far are handed over every
  // chunk_ms instead, as a USB adapter does. Returns when the last is sent.
  void send_paced(const std::string& bytes, int baud, int chunk_ms = 0);
  // Closes the master side: the program under test sees a hang-up.
  void hang_up();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never reads EIO before the program opens
  std::string device_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// CPU time used by the calling thread so far.
std::chrono::microseconds thread_cpu_time();

}  // namespace r7::test

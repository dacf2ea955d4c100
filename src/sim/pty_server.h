// Serves one simulated controller on a pseudo-terminal (Linux): the client
// opens the slave side like any serial port; the server holds a slave fd open
// of its own, so that the client may close and reopen the device without the
// master seeing a hang-up, and reads the line settings the client set (baud
// rate, parity, data bits, stop bits) from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "sim/controller.h"

namespace r7::sim {

class PtyServer {
 public:
  struct Options {
    std::optional<std::filesystem::path> link;        // symbolic link to the device
    std::optional<std::filesystem::path> state_file;  // saved on change and at the end
  };

  PtyServer(Controller& controller, Options options);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal (and the link); returns the slave's path.
  // Throws std::runtime_error.
  std::string open();

  // Serves until SIGTERM or SIGINT (which the caller has blocked in every
  // thread before, see block_signals); SIGUSR1 cycles the controller's power.
  // The state file is written once the line has been quiet for a moment after
  // a change, and always at the end.
  // After a line drop (hangup fault) the next request finds the line dead:
  // it is discarded, the pseudo-terminal replaced and `announce` gets the new
  // path (the client sees EIO and reopens the link). Saves the state file at the end.
  void run(const std::function<void(const std::string&)>& announce);

  // Blocks SIGTERM, SIGINT and SIGUSR1 so that run() receives them.
  static void block_signals();

  // "9600,N,8,1" from the slave's terminal settings.
  std::string line_settings() const;

 private:
  void close_pty();
  void save_state(bool always);
  void deliver();

  Controller& controller_;
  Options options_;
  int master_ = -1;
  int slave_ = -1;
  int port_;
  std::string path_;
  std::uint64_t saved_changes_ = 0;
};

}  // namespace r7::sim

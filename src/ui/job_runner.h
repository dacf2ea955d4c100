// Runs one job at a time on a worker thread, so that the window keeps
// painting and answering while the job waits on the line.
#pragma once

#include <QObject>

#include <functional>

#include "serial/comms.h"

class QThread;

namespace r7 {

class JobRunner final : public QObject {
  Q_OBJECT

 public:
  explicit JobRunner(Comms& comms, QObject* parent = nullptr);
  // Waits for a job still running (the windows wait() before they go, and
  // never close while a job runs).
  ~JobRunner() override;

  bool busy() const { return thread_ != nullptr; }
  // Starts `job` on a new worker thread; false (and nothing runs) while
  // another job is busy. The ports the job opened are closed in its thread
  // when it ends. `done` then runs on the GUI thread.
  bool start(std::function<void()> job, std::function<void()> done = {});
  // Waits until the running job has ended, keeping the GUI's events going.
  void wait();

 signals:
  void finished();

 private:
  Comms& comms_;
  QThread* thread_ = nullptr;
};

}  // namespace r7

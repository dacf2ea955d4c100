#include "ui/job_runner.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

#include <exception>

#include "base/run_error.h"
#include "platform/gui_thread.h"
#include "platform/qt_prompts.h"

namespace r7 {

namespace {

constexpr unsigned long kWaitSliceMs = 10;

}  // namespace

JobRunner::JobRunner(Comms& comms, QObject* parent) : QObject(parent), comms_(comms) {}

JobRunner::~JobRunner() {
  if (thread_ == nullptr) return;
  // The window goes away: its `done` is not run any more.
  QObject::disconnect(thread_, nullptr, this, nullptr);
  while (!thread_->wait(kWaitSliceMs))
    QCoreApplication::processEvents();
  delete thread_;
}

void JobRunner::wait() {
  while (thread_ != nullptr && !thread_->wait(kWaitSliceMs))
    QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(this);
}

bool JobRunner::start(std::function<void()> job, std::function<void()> done) {
  if (busy()) return false;
  thread_ = QThread::create([this, job = std::move(job)] {
    try {
      job();
    } catch (const ProgramEnd& e) {
      // The job showed why; the program cannot go on.
      const int code = e.exit_code();
      post_to_gui_thread(QCoreApplication::instance(), [code] { QCoreApplication::exit(code); });
    } catch (const std::exception& e) {
      const QString text = QStringLiteral("The job ended with an internal error: ") +
                           QString::fromLocal8Bit(e.what());
      run_on_gui_thread([&text] { QMessageBox::critical(nullptr, QString(), text); });
    }
    comms_.close_all();
  });
  connect(thread_, &QThread::finished, this, [this, done = std::move(done)] {
    thread_->deleteLater();
    thread_ = nullptr;
    if (done) done();
    emit finished();
  });
  thread_->start();
  return true;
}

}  // namespace r7

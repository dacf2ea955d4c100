// Calls from a job's worker thread into the GUI: views are updated and
// questions are asked on the GUI thread, in the order the job made the calls.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "seams/prompts.h"

namespace r7 {

inline bool on_gui_thread() {
  return QCoreApplication::instance() == nullptr ||
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs `f` on the GUI thread and waits for it (at once when called there).
template <class F>
std::invoke_result_t<F> run_on_gui_thread(F f) {
  if (on_gui_thread()) return f();
  if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), f, Qt::BlockingQueuedConnection);
  } else {
    std::optional<std::invoke_result_t<F>> result;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&result, &f] { result.emplace(f()); },
        Qt::BlockingQueuedConnection);
    return std::move(*result);
  }
}

// Queues `f` for `receiver`'s thread (at once when called on the GUI thread);
// dropped when `receiver` is gone by then.
inline void post_to_gui_thread(QObject* receiver, std::function<void()> f) {
  if (on_gui_thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(receiver, std::move(f), Qt::QueuedConnection);
}

// Prompts for a job on a worker thread: every call is answered on the GUI
// thread by `inner`, and the job waits for the answer.
class GuiThreadPrompts final : public Prompts {
 public:
  explicit GuiThreadPrompts(Prompts& inner) : inner_(inner) {}

  Answer message_box(const MessageBox& box) override {
    return run_on_gui_thread([this, &box] { return inner_.message_box(box); });
  }
  std::optional<int> choose(const Choice& choice) override {
    return run_on_gui_thread([this, &choice] { return inner_.choose(choice); });
  }
  std::optional<std::string> open_file(const FileDialog& dialog) override {
    return run_on_gui_thread([this, &dialog] { return inner_.open_file(dialog); });
  }
  std::optional<std::string> save_file(const FileDialog& dialog) override {
    return run_on_gui_thread([this, &dialog] { return inner_.save_file(dialog); });
  }
  void set_busy(bool busy) override {
    run_on_gui_thread([this, busy] { inner_.set_busy(busy); });
  }

 private:
  Prompts& inner_;
};

}  // namespace r7

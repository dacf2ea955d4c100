// A job's questions reach the user on the GUI thread, in the order the job
// asked them, and the job gets the answers.
#include "platform/gui_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/recording_prompts.h"

namespace r7 {
namespace {

// Notes the thread every call runs on.
class ThreadNotingPrompts : public test::RecordingPrompts {
 public:
  Answer message_box(const MessageBox& box) override {
    threads.push_back(QThread::currentThread());
    return RecordingPrompts::message_box(box);
  }
  void set_busy(bool busy) override {
    threads.push_back(QThread::currentThread());
    RecordingPrompts::set_busy(busy);
  }
  std::vector<QThread*> threads;
};

TEST(GuiThread, AWorkersQuestionsAreAnsweredOnTheGuiThread) {
  ThreadNotingPrompts inner;
  inner.answer(Answer::No);
  GuiThreadPrompts prompts(inner);
  std::atomic<bool> done{false};
  Answer answer = Answer::Yes;
  std::thread worker([&] {
    prompts.set_busy(true);
    answer = prompts.message_box({"Go on?", "", Icon::Question, Buttons::YesNo, Answer::Yes});
    prompts.set_busy(false);
    done = true;
  });
  while (!done)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();

  EXPECT_EQ(answer, Answer::No);
  EXPECT_EQ(inner.busy_history, (std::vector<bool>{true, false}));
  ASSERT_EQ(inner.threads.size(), 3U);
  for (QThread* t : inner.threads)
    EXPECT_EQ(t, QCoreApplication::instance()->thread());
  // On the GUI thread itself a call runs at once.
  prompts.set_busy(true);
  EXPECT_EQ(inner.threads.back(), QThread::currentThread());
}

}  // namespace
}  // namespace r7

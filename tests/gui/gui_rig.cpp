#include "gui_rig.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "app/settings_file.h"
#include "support/demo_program_dir.h"

namespace r7::test {

void GatedClock::sleep_ms(std::uint32_t ms) {
  if (ms >= gate_ms_) {
    std::unique_lock<std::mutex> lock(mutex_);
    holding_ = true;
    released_.wait(lock, [this] { return open_; });
    holding_ = false;
  }
  clock_.sleep_ms(ms);
}

void GatedClock::release() {
  const std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  released_.notify_all();
}

Rig::Rig(int simulated_model) {
  PortFactory* factory = &scripted;
  if (simulated_model != 0) {
    simulation = std::make_unique<sim::Simulation>(simulated_model, clock);
    factory = &simulation->port_factory();
    write_demo_program_dir(dir.path());
  }
  comms =
      std::make_unique<Comms>(program_dir.settings_file(), names, *factory, clock, prompts, errors);
  comms->init_comms();
}

void Rig::write_settings(const std::string& body) {
  write_file(ini(), body);
}

std::string Rig::setting(const std::string& key) const {
  return read_profile_string(kCommsSection, key, "(missing)", ini());
}

void type_into(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

QStringList list_lines(const QWidget* root, const QString& name) {
  QStringList lines;
  const auto* list = root->findChild<QListWidget*>(name);
  if (list == nullptr) return {QStringLiteral("(no list %1)").arg(name)};
  for (int i = 0; i < list->count(); ++i)
    lines << list->item(i)->text();
  return lines;
}

void when_modal(const std::function<void(QWidget*)>& action) {
  // Polls: the dialog shows once exec() has started its loop.
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && ++*tries < 300) return;
    timer->stop();
    timer->deleteLater();
    if (modal != nullptr) action(modal);
  });
  timer->start();
}

}  // namespace r7::test

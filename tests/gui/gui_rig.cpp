#include "gui_rig.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "support/demo_program_dir.h"

namespace r7::test {

Rig::Rig(int simulated_model) {
  PortFactory* factory = &scripted;
  if (simulated_model != 0) {
    simulation = std::make_unique<sim::Simulation>(simulated_model, clock);
    this->simulated_model = simulated_model;
    unpluggable = std::make_unique<UnpluggablePortFactory>(simulation->port_factory());
    factory = unpluggable.get();
    write_demo_program_dir(dir.path());
  }
  comms = std::make_unique<Comms>(names, *factory, clock, link_report);
  comms->init_comms(read_protocol_slots(program_dir.settings_file()));
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

// Runs one GUI test class on a QApplication (QT_QPA_PLATFORM=offscreen in
// ctest): the first argument names it, the rest go to QTest.
#include <QApplication>

#include <cstring>
#include <vector>

#include "gui_tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // tests close windows freely
  const struct {
    const char* name;
    int (*run)(int, char**);
  } classes[] = {{"flash_window", &r7::test::run_flash_window_tests},
                 {"comms_settings_dialog", &r7::test::run_comms_settings_dialog_tests},
                 {"setup_window", &r7::test::run_setup_window_tests},
                 {"service_log_window", &r7::test::run_service_log_window_tests}};
  std::vector<char*> args(argv, argv + argc);
  const char* wanted = argc > 1 ? argv[1] : nullptr;
  if (wanted != nullptr) args.erase(args.begin() + 1);
  int failed = 0;
  for (const auto& c : classes) {
    if (wanted != nullptr && std::strcmp(wanted, c.name) != 0) continue;
    failed += c.run(static_cast<int>(args.size()), args.data()) != 0 ? 1 : 0;
  }
  return failed;
}

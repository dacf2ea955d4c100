// Runs every GUI test class on one QApplication (QT_QPA_PLATFORM=offscreen in
// ctest). The exit status is nonzero when any test failed.
#include <QApplication>

#include "gui_tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // tests close windows freely
  int failed = 0;
  for (auto* run : {&r7::test::run_flash_window_tests, &r7::test::run_comms_settings_dialog_tests,
                    &r7::test::run_setup_window_tests}) {
    failed += run(argc, argv) != 0 ? 1 : 0;
  }
  return failed;
}

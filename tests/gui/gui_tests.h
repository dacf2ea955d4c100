// The GUI test classes, run one after the other by gui_main.cpp.
#pragma once

namespace r7::test {

int run_flash_window_tests(int argc, char** argv);
int run_comms_settings_dialog_tests(int argc, char** argv);
int run_setup_window_tests(int argc, char** argv);
int run_service_log_window_tests(int argc, char** argv);

}  // namespace r7::test

// The whole firmware download against the simulated controller on a fake clock.
#include "flash/firmware_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "flash/srecord.h"
#include "modbus/registers.h"
#include "samples/sample_files.h"
#include "setup/setup_backup.h"
#include "setup/setup_text.h"
#include "sim/simulation.h"
#include "support/demo_program_dir.h"
#include "support/port_helpers.h"
#include "support/recording_flash_view.h"
#include "support/recording_prompts.h"
#include "support/scripted_port.h"
#include "support/setup_fixture.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct FirmwareDownloadTest : ::testing::Test {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  ProgramDir program{dir.path()};
  PortNames names{program.settings_file(), std::string("sim")};
  test::RecordingFlashView view;
  std::unique_ptr<sim::Simulation> simulation;
  std::unique_ptr<ErrorLog> log;
  std::unique_ptr<PromptedLinkReport> report;
  std::unique_ptr<Comms> comms;
  std::unique_ptr<FirmwareDownload> download;
  Outcome outcome;

  void SetUp() override {
    test::write_demo_program_dir(dir.path());
    start(sim::default_config(6180));
  }

  // A fresh controller set up as `config`, and the procedures talking to it.
  void start(const sim::ControllerConfig& config) {
    download.reset();
    comms.reset();
    log.reset();
    simulation = std::make_unique<sim::Simulation>(config);
    log = std::make_unique<ErrorLog>(simulation->clock(), dir / "Flash.ERR");
    report = std::make_unique<PromptedLinkReport>(prompts, *log);
    comms =
        std::make_unique<Comms>(names, simulation->port_factory(), simulation->clock(), *report);
    comms->init_comms(read_protocol_slots(program.settings_file()));
    download =
        std::make_unique<FirmwareDownload>(*comms, prompts, view, simulation->clock(), program);
  }
  void start_with(int revision, int software, int model = 6180) {
    sim::ControllerConfig config = sim::default_config(model);
    config.revision = revision;
    config.software = software;
    start(config);
  }
  sim::Controller& controller() { return simulation->controller(); }
  sim::FakeClock& fake_clock() { return *simulation->fake_clock(); }

  std::string path(const std::string& name) const { return program.join(name).string(); }

  // Turns the line dead as soon as the command history shows `step`.
  void fail_at(const std::string& step) {
    view.on_command = [this, step](const std::string& text) {
      if (text == step) controller().faults().drop = 1.0;
    };
  }

  // A firmware file whose field at 010000 is `field` (12 hex digits).
  std::string firmware_with_field(const std::string& field) {
    std::string data;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
      data += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    }
    const std::string file = (dir / "custom.S19").string();
    test::write_file(file, sim::srecord_line('0', 0, 2, "HDR") + "\r\n" +
                               sim::srecord_line('2', 0x010000, 3, data) + "\r\n" +
                               sim::srecord_line('8', 0, 3, "") + "\r\n");
    return file;
  }

  void expect_window_restored() {
    EXPECT_FALSE(view.warning_visible);
    EXPECT_TRUE(view.quit_enabled);
    EXPECT_TRUE(view.start_enabled);
    ASSERT_FALSE(prompts.busy_history.empty());
    EXPECT_FALSE(prompts.busy_history.back());
    EXPECT_EQ(view.commands.size(), view.responses.size());
  }
};

TEST_F(FirmwareDownloadTest, CompleteDownloadWritesTheFirmwareAndLogsEveryStep) {
  prompts.answer_open(path("731-0000.S19"));
  outcome = download->download_firmware();

  EXPECT_THAT(
      view.commands,
      ElementsAre("Check of device type", "Get software revision", "Get software number",
                  "Goto Download Mode", "Pausing", "File Transfer of " + path("Dnld_R7.s19"),
                  "Download completed", "Execute download app", "Erase Sectors (chip)",
                  "File Transferred " + path("731-0000.S19"), "Download completed "));
  EXPECT_EQ(view.responses, std::vector<std::string>(11, "Successful"));
  ASSERT_THAT(prompts.texts(), ElementsAre("Please cycle Device Power."));
  EXPECT_EQ(prompts.boxes[0].title, "Download Completed");
  EXPECT_EQ(outcome.ending, Ending::Completed);
  EXPECT_EQ(download->model_selection(), 1);
  EXPECT_EQ(view.file_text, path("731-0000.S19"));
  EXPECT_EQ(view.progress_value, view.progress_max);  // full when the box shows
  expect_window_restored();
  EXPECT_EQ(comms->port_settings(kXonSlot), "38400,n,8,1");

  // The controller is named as soon as it is identified, before anything is
  // written; the end names the file and the time.
  ASSERT_GE(view.summaries.size(), 2U);
  EXPECT_EQ(view.summaries.front().controller,
            "model 6180, serial number 2130517, software number 2, software revision 1850");
  EXPECT_FALSE(view.summaries.front().ended);
  const DownloadSummary& end = view.summaries.back();
  EXPECT_TRUE(end.ended);
  EXPECT_EQ(end.outcome, "completed");
  EXPECT_EQ(end.firmware, path("731-0000.S19"));
  EXPECT_EQ(end.firmware_software, 3);
  // The whole bar never goes back and ends full; halfway through, the time
  // left it estimates is within half of what the rest took.
  ASSERT_FALSE(view.whole.empty());
  for (std::size_t i = 1; i < view.whole.size(); ++i)
    EXPECT_GE(view.whole[i].percent, view.whole[i - 1].percent) << i;
  const DownloadProgress& last = view.whole.back();
  EXPECT_EQ(last.percent, 100);
  EXPECT_FALSE(last.running);
  EXPECT_EQ(end.took_ms >= last.elapsed_ms, true);
  const auto half = std::find_if(view.whole.begin(), view.whole.end(),
                                 [](const DownloadProgress& p) { return p.percent >= 50; });
  ASSERT_NE(half, view.whole.end());
  const double actual = last.elapsed_ms - half->elapsed_ms;
  EXPECT_NEAR(static_cast<double>(half->remaining_ms.value_or(0)), actual, actual / 2);

  // After the power cycle the controller runs the new software (field ...0003).
  controller().power_cycle();
  fake_clock().advance(5000);
  EXPECT_EQ(controller().read_register(reg::kSoftwareNumber), 3);
}

// A noisy line from the first record on. A record sent again writes the same
// bytes, so each has tries enough that a download through one lost or one
// damaged reply in ten completes, byte for byte, in at least 19 runs of 20.
struct NoisyDownloadTest : FirmwareDownloadTest, ::testing::WithParamInterface<const char*> {};

TEST_P(NoisyDownloadTest, CompletesByteForByteInNineteenRunsOfTwenty) {
  prompts.answer_open(path("731-0000.S19"));
  ASSERT_EQ(download->download_firmware().ending, Ending::Completed);
  const std::uint64_t clean = controller().flash().digest();
  int right = 0;
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    sim::ControllerConfig config = sim::default_config(6180);
    config.seed = seed;
    start(config);
    view.on_command = [this](const std::string& text) {
      if (text.rfind("File Transfer of ", 0) == 0)
        sim::add_fault(controller().faults(), GetParam());
    };
    prompts.answer_open(path("731-0000.S19"));
    const bool completed = download->download_firmware().ending == Ending::Completed;
    if (completed && controller().flash().digest() == clean) ++right;
  }
  EXPECT_GE(right, 19);
}

INSTANTIATE_TEST_SUITE_P(Faults, NoisyDownloadTest, ::testing::Values("drop:0.1", "crc:0.1"),
                         [](const auto& info) {
                           const std::string fault = info.param;
                           return fault.substr(0, fault.find(':'));
                         });

TEST_F(FirmwareDownloadTest, NewerRevisionSelectsTheNewerLoaderAndFiles) {
  start_with(2000, 2);
  prompts.answer_open(path("8831-0000.S19"));
  outcome = download->download_firmware();
  EXPECT_EQ(download->model_selection(), 2);
  EXPECT_EQ(download->transfer_record_path(), path("Mole_R7.s19"));
  EXPECT_EQ(download->firmware_path(), path("8831-0000.S19"));
  ASSERT_EQ(prompts.open_dialogs.size(), 1U);
  EXPECT_EQ(prompts.open_dialogs[0].file_name, "8831*.S19");
  EXPECT_EQ(prompts.open_dialogs[0].initial_dir, dir.path().string());
  EXPECT_EQ(outcome.ending, Ending::Completed);
}

TEST_F(FirmwareDownloadTest, SilentControllerFailsTheFirstStep) {
  controller().faults().drop = 1.0;
  outcome = download->download_firmware();
  EXPECT_THAT(view.commands, ElementsAre("Check of device type"));
  EXPECT_THAT(view.responses, ElementsAre("Failed"));
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_EQ(prompts.boxes[0].text, "No response from controller received.");
  EXPECT_EQ(prompts.boxes[0].title, "Communication Error");
  EXPECT_EQ(prompts.boxes[0].icon, Icon::Critical);
  EXPECT_EQ(outcome.ending, Ending::NoController);
  EXPECT_TRUE(prompts.choices.empty());  // no bootloader answered either
  expect_window_restored();

  // Replies after the time-out are no silence: the box says the controller is late.
  controller().faults().drop = 0.0;
  controller().faults().late_ms = 300;
  comms->close_all();  // a new job
  prompts.boxes.clear();
  outcome = download->download_firmware();
  EXPECT_EQ(outcome.ending, Ending::NoController);
  ASSERT_FALSE(prompts.boxes.empty());
  EXPECT_EQ(prompts.boxes.back().text,
            "No response from controller received.\rReplies came, but after the time-out: the "
            "controller answers too late. Check the line, the baud rate and the delay of a "
            "converter on the way.");
}

// A download that broke off after the erase: only the bootloader answers. The
// user's choice names the selection; no software number is read and no
// download mode written, and afterwards the controller runs the new software.
TEST_F(FirmwareDownloadTest, ControllerStuckInItsBootloaderIsDownloadedWithTheChosenSelection) {
  // 6170, revision 2000 or above; the first row through the command line: see
  // tests/e2e/r7sim_test.cpp.
  start_with(1850, 2, 6170);
  controller().break_off_download();
  prompts.answer_choice(3);
  prompts.answer_open(path("8830-0000.S19"));
  outcome = download->download_firmware();

  ASSERT_EQ(prompts.open_dialogs.size(), 1U);
  EXPECT_EQ(prompts.open_dialogs[0].file_name, "8830*.S19");
  EXPECT_THAT(view.commands,
              ElementsAre("Check of device type", "Bootloader answers",
                          "File Transfer of " + path("Mole_R7.s19"), "Download completed",
                          "Execute download app", "Erase Sectors (chip)",
                          "File Transferred " + path("8830-0000.S19"), "Download completed "));
  EXPECT_EQ(view.responses.back(), "Successful");
  EXPECT_EQ(outcome.ending, Ending::Completed);

  controller().power_cycle();
  fake_clock().advance(5000);
  EXPECT_EQ(controller().mode(), sim::Mode::Application);
  EXPECT_EQ(controller().read_register(reg::kSoftwareNumber), 5);
}

// A cancelled choice, or a firmware file for another model than the one
// chosen, leaves the stuck controller as it was.
TEST_F(FirmwareDownloadTest, StuckControllerIsLeftUntouchedWithoutAFittingChoice) {
  controller().break_off_download();
  const auto expect_untouched = [this] {
    EXPECT_TRUE(controller().application_image().empty());
    EXPECT_TRUE(controller().flash().empty());
    EXPECT_EQ(controller().firmware_state(), sim::FirmwareState::Erased);
    EXPECT_EQ(controller().mode(), sim::Mode::Bootloader);
    expect_window_restored();
  };
  outcome = download->download_firmware();  // the choice unscripted: cancelled
  EXPECT_EQ(prompts.choices.size(), 1U);
  EXPECT_THAT(view.commands, ElementsAre("Check of device type", "Bootloader answers"));
  EXPECT_THAT(view.responses, ElementsAre("Failed", "Successful"));
  EXPECT_TRUE(prompts.open_dialogs.empty());
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(outcome.ending, Ending::Cancelled);
  expect_untouched();

  view = test::RecordingFlashView{};
  prompts.answer_choice(2);  // 6170, older revision: its files start 730
  prompts.answer_open(path("731-0000.S19"));
  outcome = download->download_firmware();
  EXPECT_EQ(view.commands.back(), "Check of firmware model");
  EXPECT_EQ(view.responses.back(), "Failed");
  EXPECT_THAT(prompts.texts(), ElementsAre(HasSubstr("is not firmware for the model chosen")));
  EXPECT_EQ(outcome.ending, Ending::SoftwareMismatch);
  expect_untouched();
}

TEST_F(FirmwareDownloadTest, UnknownDeviceTypeIsReportedOncePerTry) {
  // A Modbus device that is no R7 controller: register 0 holds 1234.
  sim::FakeClock clock;
  test::ScriptedLine line(clock);
  test::ScriptedPortFactory factory(line);
  Comms other(names, factory, clock, *report);
  other.init_comms(read_protocol_slots(program.settings_file()));
  const std::string reply = with_modbus_crc(std::string("\x01\x03\x02\x04\xD2", 5));
  for (int i = 0; i < 3; ++i)
    line.answer_next_write({reply, 5});
  FirmwareDownload d(other, prompts, view, clock, program);
  EXPECT_EQ(d.download_firmware().ending, Ending::Unrecognised);
  EXPECT_EQ(prompts.texts(), std::vector<std::string>(3, "Controller is unrecognized !!"));
  EXPECT_EQ(prompts.boxes[0].title, "Unknown Controller");
  EXPECT_EQ(prompts.boxes[0].icon, Icon::Critical);
  EXPECT_THAT(view.responses, ElementsAre("Failed"));
  EXPECT_EQ(line.writes.size(), 3U);
}

// A silent line: the bootloader is asked once, after the Modbus tries. A port
// that cannot be opened is not asked for a bootloader: one box says why, and
// no "No response" follows it.
TEST_F(FirmwareDownloadTest, SilentLineAsksForABootloaderOnceAMissingPortNever) {
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing);
    sim::FakeClock clock;
    test::ScriptedLine line(clock);
    if (missing) {
      for (int port = 1; port <= 2; ++port)
        line.remove_device(names.device_name(port));
    }
    test::ScriptedPortFactory factory(line);
    Comms other(names, factory, clock, *report);
    other.init_comms(read_protocol_slots(program.settings_file()));
    prompts.boxes.clear();
    FirmwareDownload d(other, prompts, view, clock, program);
    EXPECT_EQ(d.download_firmware().ending, Ending::NoController);
    const std::vector<std::string> texts = prompts.texts();
    if (missing) {
      ASSERT_EQ(texts.size(), 1U);
      EXPECT_EQ(texts[0].rfind("Cannot open comm port #2, it is not available", 0), 0U);
    } else {
      EXPECT_THAT(texts, ElementsAre("No response from controller received."));
    }
    EXPECT_EQ(line.writes.size(), missing ? 0U : kModbusTries + 1U);
  }
}

TEST_F(FirmwareDownloadTest, CancelledBrowseEndsSilentlyAfterASuccessfulStep) {
  prompts.answer_open(std::nullopt);
  outcome = download->download_firmware();
  EXPECT_THAT(view.responses, ElementsAre("Successful", "Successful"));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(download->browse_dir().empty());
  EXPECT_EQ(outcome.ending, Ending::Cancelled);
  EXPECT_EQ(controller().mode(), sim::Mode::Application);
  expect_window_restored();
}

TEST_F(FirmwareDownloadTest, MissingDownloadApplicationIsNamed) {
  std::filesystem::remove(path("Dnld_R7.s19"));
  prompts.answer_open(path("731-0000.S19"));
  outcome = download->download_firmware();
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_THAT(prompts.boxes[0].text, HasSubstr(path("Dnld_R7.s19") + " needs to be located"));
  EXPECT_EQ(outcome.ending, Ending::FileProblem);
  expect_window_restored();
}

// Below 10 any field ending 0000..0009 fits; from 10 on the hex must match;
// the device code must match in every case; a file without the field never fits.
TEST_F(FirmwareDownloadTest, SoftwareNumberRules) {
  struct Case {
    int software;
    std::string field;
    bool fits;
  };
  const Case cases[] = {{5, "523741420003", true},   {5, "52374142000A", false},
                        {26, "52374142001A", true},  {26, "523741420026", false},
                        {26, "52374453001A", false}, {26, "", false},
                        {-5, "523741420003", false}};  // a negative number is no number
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    start_with(1850, c.software);
    view = test::RecordingFlashView{};
    std::string file = (dir / "nofield.S19").string();
    if (c.field.empty()) {
      test::write_file(file, sim::srecord_line('2', 0x020000, 3, "ABCDEF") + "\r\n" +
                                 sim::srecord_line('8', 0, 3, "") + "\r\n");
      EXPECT_EQ(file_software_field(file), std::nullopt);
    } else {
      file = firmware_with_field(c.field);
    }
    prompts.answer_open(file);
    fail_at("Goto Download Mode");  // a fitting file stops before anything is written
    outcome = download->download_firmware();
    EXPECT_EQ(outcome.ending, c.fits ? Ending::Failed : Ending::SoftwareMismatch);
    EXPECT_EQ(view.commands.back(), c.fits ? "Goto Download Mode" : "Get software number");
    EXPECT_EQ(view.responses.back(), "Failed");
  }
}

// A refused download mode write, then each bootloader step failing in turn:
// the history ends with "Failed", the window is restored and slot 2 has the
// settings it had before.
TEST_F(FirmwareDownloadTest, EachStepFailingEndsTheDownload) {
  const std::vector<std::string> steps = {
      "Goto Download Mode",   "File Transfer of " + path("Dnld_R7.s19"),
      "Download completed",   "Execute download app",
      "Erase Sectors (chip)", "File Transferred " + path("731-0000.S19"),
      "Download completed "};
  for (const std::string& step : steps) {
    SCOPED_TRACE(step);
    start(sim::default_config(6180));
    comms->set_port_settings(kXonSlot, "19200,n,8,1");
    view = test::RecordingFlashView{};
    if (step == steps[0]) {
      controller().faults().refuse[reg::kDownloadMode] = 2;
    } else {
      fail_at(step);
    }
    prompts.boxes.clear();
    prompts.answer_open(path("731-0000.S19"));
    download->set_recovery_advice([](const BrokenOffDownload& b) {
      return std::to_string(b.device_type) + " " + std::to_string(b.revision.value_or(0)) + " " +
             b.firmware;
    });
    outcome = download->download_firmware();
    EXPECT_EQ(view.commands.back(), step);
    EXPECT_EQ(view.responses.back(), "Failed");
    EXPECT_EQ(outcome.ending, Ending::Failed);
    EXPECT_EQ(outcome.step, step);
    EXPECT_EQ(comms->port_settings(kXonSlot), "19200,n,8,1");
    expect_window_restored();
    for (const std::string& text : prompts.texts())
      EXPECT_NE(text, "Please cycle Device Power.");
    // Once the controller runs its bootloader, a failure says how to finish.
    const auto advice =
        std::count_if(prompts.boxes.begin(), prompts.boxes.end(),
                      [](const MessageBox& b) { return b.title == "Download Broken Off"; });
    EXPECT_EQ(advice, step == steps[0] ? 0 : 1);
    if (advice == 1) {
      EXPECT_EQ(prompts.boxes.back().text,
                "The download broke off: the controller may now answer only in its bootloader. "
                "6180 1850 " +
                    path("731-0000.S19"));
    }
  }
}

// A port unplugged mid-firmware: once the port's own message, then what to
// do; no dump of frames that never reached the line.
TEST_F(FirmwareDownloadTest, PortLostMidFirmwareSaysWhyOnceThenWhatToDo) {
  test::UnpluggablePortFactory factory(simulation->port_factory());
  Comms lost(names, factory, simulation->clock(), *report);
  lost.init_comms(read_protocol_slots(program.settings_file()));
  FirmwareDownload d(lost, prompts, view, simulation->clock(), program);
  d.set_recovery_advice([](const BrokenOffDownload&) { return std::string("Press Start."); });
  view.on_command = [&](const std::string& text) {
    if (text.rfind("File Transferred ", 0) == 0) factory.unplug_after(0);
  };
  prompts.answer_open(path("731-0000.S19"));
  outcome = d.download_firmware();
  EXPECT_EQ(outcome.ending, Ending::Failed);
  EXPECT_EQ(outcome.step, "File Transferred " + path("731-0000.S19"));
  ASSERT_EQ(prompts.boxes.size(), 2U) << ::testing::PrintToString(prompts.texts());
  EXPECT_THAT(prompts.boxes[0].text,
              StartsWith("Cannot open comm port #2, it is not available\rThere is no device sim"));
  EXPECT_EQ(prompts.boxes[1].text,
            std::string(kBrokenOffText) +
                "Press Start. The serial port was lost: reconnect the cable or the adapter first.");
  expect_window_restored();
}

// The restart into the bootloader refused (1941 was taken): it is not sent
// again and no bootloader is waited for.
TEST_F(FirmwareDownloadTest, RefusedRestartIntoTheBootloaderIsNotRepeated) {
  test::RequestLog requests(fake_clock());
  requests.on_request = [&](std::size_t) {
    if (requests.requests.back().is_write(reg::kDownloadMode, reg::kDownloadModeArm))
      controller().faults().refuse[reg::kDownloadMode] = 2;
  };
  comms->set_trace(&requests);
  prompts.answer_open(path("731-0000.S19"));
  outcome = download->download_firmware();
  EXPECT_EQ(outcome.ending, Ending::Failed);
  EXPECT_EQ(outcome.step, "Goto Download Mode");
  const auto restarts = std::count_if(
      requests.requests.begin(), requests.requests.end(),
      [](const test::SentRequest& r) { return r.is_write(reg::kDownloadMode, 1414); });
  EXPECT_EQ(restarts, 1);
  EXPECT_THAT(view.commands, ::testing::Not(::testing::Contains("Pausing")));
  expect_window_restored();
}

TEST_F(FirmwareDownloadTest, PreflightListsTheFirstErrorsAndStopsUnlessTheUserGoesOn) {
  std::vector<std::string> lines;
  for (const SRecord& record : read_srecords(path("731-0000.S19")))
    lines.push_back(record.text());
  lines[3].back() = lines[3].back() == '0' ? '1' : '0';  // a bad checksum on line 4
  std::string text;
  for (const auto& l : lines)
    text += l + "\r\n";
  const std::string bad = (dir / "731-0001.S19").string();
  test::write_file(bad, text);

  prompts.answer_open(bad);
  outcome = download->download_firmware();  // unscripted: the default answer No
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_THAT(prompts.boxes[0].text, HasSubstr("Line 4: checksum"));
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::YesNo);
  EXPECT_EQ(prompts.boxes[0].default_answer, Answer::No);
  EXPECT_EQ(outcome.ending, Ending::Cancelled);
  EXPECT_THAT(view.commands, ::testing::Not(::testing::Contains("Goto Download Mode")));
  EXPECT_EQ(controller().mode(), sim::Mode::Application);
}

// The setup is saved before download mode; without it the download goes on
// only when the user says so.
TEST_F(FirmwareDownloadTest, SetupBackupComesBeforeDownloadModeOrTheUserIsAsked) {
  const auto backups = [this] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(program.setups_dir()))
      names.push_back(e.path().filename().string());
    return names;
  };
  const auto with_backup = [this] {
    download->set_setup_backup([this] {
      return save_setup_backup(*comms, prompts, simulation->clock(), program, kFirmwareAddress);
    });
    prompts.answer_open(path("731-0000.S19"));
  };
  with_backup();
  outcome = download->download_firmware();
  EXPECT_EQ(outcome.ending, Ending::Completed);
  const auto saved_files = backups();
  ASSERT_EQ(saved_files.size(), 1U);
  EXPECT_THAT(
      saved_files[0],
      ::testing::MatchesRegex("2130517-before-20[0-9][0-9]-[01][0-9]-[0-3][0-9]_[0-9-]+\\.txt"));
  EXPECT_EQ(view.commands[3], "Save setup to " + saved_files[0]);
  EXPECT_EQ(view.commands[4], "Goto Download Mode");
  const auto saved = read_text_lines(program.setups_dir() / saved_files[0]);
  EXPECT_GT(saved.size(), 100U);
  EXPECT_THAT(saved.back().text, ::testing::StartsWith("25 "));

  // A file under the backup's name (a second station backing up the same
  // controller in the same second) is never overwritten: the backup takes
  // the next name.
  start(sim::default_config(6180));
  const auto taken =
      program.setups_dir() / backup_file_name("2130517.txt", simulation->clock().local_time());
  test::write_file(taken, "kept");
  prompts.boxes.clear();
  view = test::RecordingFlashView{};
  with_backup();
  EXPECT_EQ(download->download_firmware().ending, Ending::Completed);
  EXPECT_EQ(test::read_file(taken), "kept");
  auto next = taken;
  next.replace_filename(taken.stem().string() + "-2.txt");
  EXPECT_EQ(view.commands[3], "Save setup to " + next.filename().string());
  EXPECT_GT(read_text_lines(next).size(), 100U);
  const auto files_before = backups();

  // No sequence file for the model: the backup fails (and leaves no empty
  // file behind) and the user is asked (default No); No leaves the
  // controller running its firmware.
  std::filesystem::remove(program.sequences_dir() / "6180.cds");
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    start(sim::default_config(6180));
    view = test::RecordingFlashView{};
    prompts.boxes.clear();
    with_backup();
    prompts.answer(answer);
    outcome = download->download_firmware();
    ASSERT_GE(view.commands.size(), 4U);
    EXPECT_EQ(view.commands[3], "Save setup");
    EXPECT_EQ(view.responses[3], "Failed");
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_THAT(prompts.boxes[0].text, HasSubstr("Do not have correct download file sequence"));
    EXPECT_EQ(prompts.boxes[0].default_answer, Answer::No);
    if (answer == Answer::No) {
      EXPECT_EQ(outcome.ending, Ending::Failed);
      EXPECT_EQ(outcome.step, "Save setup");
      EXPECT_EQ(controller().mode(), sim::Mode::Application);
      expect_window_restored();
    } else {
      EXPECT_EQ(outcome.ending, Ending::Completed);
    }
  }
  EXPECT_EQ(backups(), files_before);
}

// A backup that fails after it took its name leaves no empty file behind.
TEST_F(FirmwareDownloadTest, BackupThatFailsMidwayLeavesNoEmptyFile) {
  std::filesystem::create_directories(program.setups_dir());
  controller().faults().hangup_after = 20;
  const BackupResult result =
      save_setup_backup(*comms, prompts, simulation->clock(), program, kFirmwareAddress);
  ASSERT_FALSE(result);
  EXPECT_TRUE(std::filesystem::is_empty(program.setups_dir()));
}

TEST_F(FirmwareDownloadTest, EngineeringProbeAndErase) {
  download->probe_online();  // the application does not answer the probe (history: tests/gui)
  EXPECT_EQ(prompts.boxes.back().text, "No response from device.");
  EXPECT_FALSE(view.erase_enabled);

  // In the bootloader it answers.
  controller().write_register(reg::kDownloadMode, reg::kDownloadModeArm);
  controller().write_register(reg::kDownloadMode, reg::kDownloadModeLoader);
  fake_clock().advance(5000);
  prompts.boxes.clear();
  download->probe_online();
  EXPECT_EQ(view.responses.back(), "Device is online");
  EXPECT_TRUE(view.erase_enabled);
  EXPECT_TRUE(prompts.boxes.empty());

  // The erase asks first (default No); the whole flash is erased, whatever
  // the sectors. The resident bootloader does not erase: no acknowledgement,
  // settings restored.
  const std::size_t commands = view.commands.size();
  EXPECT_EQ(download->erase_flash_sectors({true, true, true, true, true, true, true}).ending,
            Ending::Declined);
  EXPECT_EQ(prompts.boxes.back().default_answer, Answer::No);
  EXPECT_EQ(view.commands.size(), commands);
  comms->set_port_settings(kXonSlot, "9600,n,8,1");
  prompts.answer(Answer::Yes);
  view.warnings.clear();
  download->erase_flash_sectors({false, true, false, false, false, false, true});
  EXPECT_EQ(view.commands.back(), "Erase Sectors  66");
  EXPECT_EQ(view.responses.back(), "Erase Failed");
  EXPECT_THAT(prompts.boxes.back().text,
              StartsWith("Sector Erase failed.\rThe controller answered FF 90 instead of the "
                         "acknowledgement FF 10 (3 tries of 30 s)"));
  EXPECT_EQ(comms->port_settings(kXonSlot), "9600,n,8,1");
  EXPECT_EQ(view.waits, (std::vector<std::string>{"Erasing the flash 90000", "end"}));
  EXPECT_EQ(view.warnings, (std::vector<bool>{true, false}));  // red while it erases

  // A probe that finds nothing takes the erase away again.
  controller().power_cycle();
  fake_clock().advance(2000);
  download->probe_online();
  EXPECT_EQ(view.responses.back(), "No response from device");
  EXPECT_FALSE(view.erase_enabled);
}

}  // namespace
}  // namespace r7

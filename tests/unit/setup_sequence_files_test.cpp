#include "setup/sequence_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/run_error.h"
#include "setup/setup_text.h"
#include "support/port_helpers.h"

namespace r7 {
namespace {

using Lines = std::vector<std::string>;

template <typename Range>
Lines texts(const Range& lines) {
  Lines out;
  for (const auto& l : lines)
    out.push_back(l.text);
  return out;
}

TEST(SetupNumbers, RegisterNumbersNumbersAndTheirShortestText) {
  const std::pair<const char*, float> registers[] = {
      {"1234 Setpoint high limit", 1234},
      {"4000 3", 4000},
      {"1234", 1234},
      {"1234.5 rest", 1234},  // digits and the one character after them
      {"1234\tdescription", 1234},
      {" 5 text", 5},  // no leading digit: two characters
      {"0 zero", 0}};
  for (const auto& [line, number] : registers)
    EXPECT_EQ(reg_number(line), number) << line;
  for (const char* bad : {"Setpoint 1234", "1234a", "12:30", "", "["})
    EXPECT_FALSE(reg_number(bad)) << bad;
  EXPECT_EQ(test::run_error_of([] { reg_number_or_throw("abc"); }), err::kTypeMismatch);

  const std::pair<const char*, double> numbers[] = {
      {" 12 ", 12}, {"-32002", -32002}, {"+7", 7}, {"1.5e2", 150}, {"3.", 3}};
  for (const auto& [text, number] : numbers)
    EXPECT_EQ(parse_number(text), number) << text;
  for (const char* bad : {"", " ", "-", "1e", "1.2.3", "abc", "12a", "1 2", "ERROR"})
    EXPECT_FALSE(parse_number(bad)) << bad;
  EXPECT_EQ(number_text(-32002.0F), "-32002");
  EXPECT_EQ(number_text(-0.0), "0");
  EXPECT_EQ(number_text(0.5), "0.5");
  EXPECT_EQ(number_text(65535.0F), "65535");
}

// The register lines of a .cds and their errors are checked through the save.
// The first line says whether the model has profiles: "YES" in any case,
// anything after it ignored; a blank first line says no.
TEST(DownloadSequenceFile, TheFirstLineSaysWhetherTheModelHasProfiles) {
  const DownloadSequence empty(split_text_lines(""), "6180.cds");
  EXPECT_EQ(test::run_error_of([&] { empty.has_profiles(); }), err::kInputPastEnd);
  for (const auto& [first, profiles] :
       {std::pair{"yEs, 3 profiles", true}, {"YE", false}, {"", false}, {" YES", false}})
    EXPECT_EQ(DownloadSequence(split_text_lines(std::string(first) + "\n102 x\n"), "x.cds")
                  .has_profiles(),
              profiles)
        << first;
}

constexpr const char* kPds =
    "3 profiles\nStep types of the R7\n1 Ramp\n05 End\nnotes between the entries\n"
    "12   Jump  \n4 Soak\n[Ramp]\n4004 rate\n4005 target\n[Soak]\n4006 time\n"
    "[End]\n4007 action\n4060 end\n[Jump]\n4008 to\n4009 count\n";

TEST(ProfileSequenceFile, IndexSearchMapsOneAndTwoDigitStepTypesInAnyOrder) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  EXPECT_EQ(pds.profile_count(), 3);
  EXPECT_EQ(pds.section_name("1"), "Ramp");
  EXPECT_EQ(pds.section_name("5"), "End");  // leading zero dropped
  EXPECT_EQ(pds.section_name("12"), "Jump");
  EXPECT_EQ(pds.section_name("4"), "Soak");
  EXPECT_EQ(pds.section_name("7"), std::nullopt);  // meets "[Ramp]" first

  // An index entry on line 2 is never used.
  const ProfileSequence two(split_text_lines("1\n4 Soak\n1 Ramp\n[Soak]\n4006 t\n[Ramp]\n"), "x");
  EXPECT_EQ(two.section_name("4"), std::nullopt);
  EXPECT_EQ(two.section_name("1"), "Ramp");
}

TEST(ProfileSequenceFile, OrdinaryStepsStopAtTheNextHeaderAndNeverTakeTheLastLine) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Ramp"))),
            (Lines{"4004 rate", "4005 target"}));
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Soak"))), Lines{"4006 time"});
  // The last section: its last register line is the file's last line.
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Jump"))), Lines{"4008 to"});
  // A section that is not there leaves the search at the end of the file.
  const std::size_t none = pds.section_start("Nope");
  EXPECT_EQ(test::run_error_of([&] { pds.ordinary_step_lines(none); }), err::kInputPastEnd);
  EXPECT_TRUE(pds.end_step_lines(none).empty());

  // Headers match exactly after dropping their first and last character.
  const ProfileSequence headers(
      split_text_lines("1\nx\n4 Soak\n[Soak] \n4006 a\n[soak]\n4007 b\n[Soak]\n4008 c\n4009 d\n"),
      "x");
  EXPECT_EQ(texts(headers.ordinary_step_lines(headers.section_start("Soak"))), Lines{"4008 c"});
}

TEST(ProfileSequenceFile, EndStepCandidatesRunToTheEndOfTheFile) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  // "[Jump]" is a malformed register line if 4060 holds 3.
  EXPECT_EQ(texts(pds.end_step_lines(pds.section_start("End"))),
            (Lines{"4007 action", "4060 end", "[Jump]", "4008 to", "4009 count"}));
  // As the last section, the end step takes the file's last line too.
  const ProfileSequence last(split_text_lines("1\nx\n5 End\n[End]\n4007 a\n4060 b"), "x");
  EXPECT_EQ(last.end_step_lines(last.section_start("End")).size(), 2U);
}

TEST(ProfileSequenceFile, ProfileCountErrors) {
  auto count_error = [](const char* text) {
    return test::run_error_of(
        [&] { ProfileSequence(split_text_lines(text), "x").profile_count(); });
  };
  EXPECT_EQ(count_error(""), err::kInputPastEnd);
  EXPECT_EQ(count_error("Profiles: 3"), err::kTypeMismatch);
  EXPECT_EQ(count_error("99999 p"), 6);
  EXPECT_EQ(ProfileSequence(split_text_lines("0 none"), "x").profile_count(), 0);
  EXPECT_EQ(
      test::run_error_of([] { ProfileSequence(split_text_lines("1"), "x").section_name("1"); }),
      err::kInputPastEnd);
}

}  // namespace
}  // namespace r7

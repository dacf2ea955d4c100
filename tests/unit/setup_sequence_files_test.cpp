#include "setup/sequence_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/run_error.h"
#include "setup/setup_text.h"

namespace r7 {
namespace {

std::vector<std::string> texts(const std::vector<TextLine>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    out.push_back(l.text);
  return out;
}

template <typename F>
int run_error_number(F&& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

TEST(SetupNumbers, RegisterNumberAtTheStartOfALine) {
  EXPECT_EQ(reg_number("1234 Setpoint high limit"), 1234.0F);
  EXPECT_EQ(reg_number("4000 3"), 4000.0F);
  EXPECT_EQ(reg_number("1234"), 1234.0F);
  EXPECT_EQ(reg_number("1234.5 rest"), 1234.0F);  // digits and the one character after them
  EXPECT_EQ(reg_number("1234\tdescription"), 1234.0F);
  EXPECT_EQ(reg_number(" 5 text"), 5.0F);  // no leading digit: the first two characters
  EXPECT_EQ(reg_number("0 zero"), 0.0F);

  EXPECT_FALSE(reg_number("Setpoint 1234"));
  EXPECT_FALSE(reg_number("1234a"));
  EXPECT_FALSE(reg_number("12:30"));
  EXPECT_FALSE(reg_number(""));
  EXPECT_FALSE(reg_number("["));
  EXPECT_EQ(run_error_number([] { reg_number_or_throw("abc"); }), err::kTypeMismatch);
}

TEST(SetupNumbers, ConversionAndShortestText) {
  EXPECT_EQ(parse_number(" 12 "), 12.0);
  EXPECT_EQ(parse_number("-32002"), -32002.0);
  EXPECT_EQ(parse_number("+7"), 7.0);
  EXPECT_EQ(parse_number("1.5e2"), 150.0);
  EXPECT_EQ(parse_number("3."), 3.0);
  for (const char* bad : {"", " ", "-", "1e", "1.2.3", "abc", "12a", "1 2", "ERROR"}) {
    EXPECT_FALSE(parse_number(bad)) << bad;
  }
  EXPECT_EQ(number_text(4000.0F), "4000");
  EXPECT_EQ(number_text(-32002.0F), "-32002");
  EXPECT_EQ(number_text(-0.0), "0");
  EXPECT_EQ(number_text(0.5), "0.5");
  EXPECT_EQ(number_text(65535.0F), "65535");
}

TEST(SetupTextLines, CrLfAndLfReadAlikeAndTheLastLineNeedsNoBreak) {
  EXPECT_EQ(texts(split_text_lines("a\r\nb\r\n")), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(texts(split_text_lines("a\nb")), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(texts(split_text_lines("a\r\n\r\nb\n")), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(split_text_lines("").empty());
  const TextLines lines = split_text_lines("x\ny\nz");
  EXPECT_EQ(lines[2].number, 3);
}

TEST(DownloadSequenceFile, ProfileFlagIsTheFirstThreeCharactersUpperCased) {
  EXPECT_TRUE(profile_flag("YES"));
  EXPECT_TRUE(profile_flag("yes"));
  EXPECT_TRUE(profile_flag("Yesterday"));
  EXPECT_FALSE(profile_flag(" YES"));
  EXPECT_FALSE(profile_flag("YE"));
  EXPECT_FALSE(profile_flag("NO"));
  EXPECT_FALSE(profile_flag(""));
}

TEST(DownloadSequenceFile, RegisterLinesRunToTheLastLineWithOrWithoutABreak) {
  const DownloadSequence with_break(split_text_lines("yes\r\n10 a\r\n20 b\r\n"), "6180.cds");
  EXPECT_TRUE(with_break.has_profiles());
  EXPECT_EQ(texts({with_break.register_lines().begin(), with_break.register_lines().end()}),
            (std::vector<std::string>{"10 a", "20 b"}));

  const DownloadSequence without(split_text_lines("NO\n10 a\n20 b"), "6180.cds");
  EXPECT_FALSE(without.has_profiles());
  ASSERT_EQ(without.register_lines().size(), 2U);
  EXPECT_EQ(without.register_of(without.register_lines()[1]), 20.0F);
}

TEST(DownloadSequenceFile, MissingLinesAndMalformedRegisterLinesAreRunErrorsNamingTheFile) {
  const DownloadSequence empty(split_text_lines(""), "6180.cds");
  EXPECT_EQ(run_error_number([&] { empty.has_profiles(); }), err::kInputPastEnd);
  const DownloadSequence flag_only(split_text_lines("YES\n"), "6180.cds");
  EXPECT_EQ(run_error_number([&] { flag_only.register_lines(); }), err::kInputPastEnd);

  const DownloadSequence bad(split_text_lines("NO\n10 a\n\n1234x y\n"), "6180.cds");
  const auto regs = bad.register_lines();
  EXPECT_EQ(run_error_number([&] { bad.register_of(regs[1]); }), err::kTypeMismatch);  // blank
  try {
    bad.register_of(regs[2]);
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_EQ(e.file(), "6180.cds");
  }
}

constexpr const char* kPds =
    "3 profiles\n"
    "Step types of the R7\n"
    "1 Ramp\n"
    "05 End\n"
    "notes between the entries\n"
    "12   Jump  \n"
    "4 Soak\n"
    "[Ramp]\n"
    "4004 rate\n"
    "4005 target\n"
    "[Soak]\n"
    "4006 time\n"
    "[End]\n"
    "4007 action\n"
    "4060 end\n"
    "[Jump]\n"
    "4008 to\n"
    "4009 count\n";

TEST(ProfileSequenceFile, IndexSearchMapsOneAndTwoDigitStepTypesInAnyOrder) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  EXPECT_EQ(pds.profile_count(), 3);
  EXPECT_EQ(pds.section_name("1"), "Ramp");
  EXPECT_EQ(pds.section_name("5"), "End");  // leading zero dropped
  EXPECT_EQ(pds.section_name("12"), "Jump");
  EXPECT_EQ(pds.section_name("4"), "Soak");
  EXPECT_EQ(pds.section_name("7"), std::nullopt);  // meets "[Ramp]" first
  EXPECT_EQ(pds.section_name("2"), std::nullopt);
}

TEST(ProfileSequenceFile, AnIndexEntryOnLineTwoIsNeverUsed) {
  const ProfileSequence pds(split_text_lines("1\n4 Soak\n1 Ramp\n[Soak]\n4006 t\n[Ramp]\n"), "x");
  EXPECT_EQ(pds.section_name("4"), std::nullopt);
  EXPECT_EQ(pds.section_name("1"), "Ramp");
}

TEST(ProfileSequenceFile, OrdinaryStepsStopAtTheNextHeaderAndNeverTakeTheLastLine) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Ramp"))),
            (std::vector<std::string>{"4004 rate", "4005 target"}));
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Soak"))),
            (std::vector<std::string>{"4006 time"}));
  // The last section: its last register line is the file's last line.
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Jump"))),
            (std::vector<std::string>{"4008 to"}));
  // A section that is not there leaves the search at the end of the file.
  const std::size_t none = pds.section_start("Nope");
  EXPECT_EQ(run_error_number([&] { pds.ordinary_step_lines(none); }), err::kInputPastEnd);
  EXPECT_TRUE(pds.end_step_lines(none).empty());
}

TEST(ProfileSequenceFile, EndStepCandidatesRunToTheEndOfTheFile) {
  const ProfileSequence pds(split_text_lines(kPds), "6180.pds");
  const auto end = pds.end_step_lines(pds.section_start("End"));
  ASSERT_EQ(end.size(), 5U);
  EXPECT_EQ(end[0].text, "4007 action");
  EXPECT_EQ(end[1].text, "4060 end");
  EXPECT_EQ(end[2].text, "[Jump]");  // a malformed register line if 4060 holds 3
  EXPECT_EQ(end[4].text, "4009 count");

  // As the last section, the end step takes the file's last line too.
  const ProfileSequence last(split_text_lines("1\nx\n5 End\n[End]\n4007 a\n4060 b"), "x");
  EXPECT_EQ(last.end_step_lines(last.section_start("End")).size(), 2U);
}

TEST(ProfileSequenceFile, HeadersMatchExactlyAfterDroppingTheirFirstAndLastCharacter) {
  const ProfileSequence pds(split_text_lines("1\nx\n4 Soak\n[Soak] \n4006 a\n[soak]\n4007 b\n"
                                             "[Soak]\n4008 c\n4009 d\n"),
                            "x");
  EXPECT_EQ(texts(pds.ordinary_step_lines(pds.section_start("Soak"))),
            (std::vector<std::string>{"4008 c"}));
}

TEST(ProfileSequenceFile, ProfileCountErrors) {
  EXPECT_EQ(run_error_number([] { ProfileSequence(split_text_lines(""), "x").profile_count(); }),
            err::kInputPastEnd);
  EXPECT_EQ(run_error_number(
                [] { ProfileSequence(split_text_lines("Profiles: 3"), "x").profile_count(); }),
            err::kTypeMismatch);
  EXPECT_EQ(
      run_error_number([] { ProfileSequence(split_text_lines("99999 p"), "x").profile_count(); }),
      6);
  EXPECT_EQ(ProfileSequence(split_text_lines("0 none"), "x").profile_count(), 0);
  EXPECT_EQ(run_error_number([] { ProfileSequence(split_text_lines("1"), "x").section_name("1"); }),
            err::kInputPastEnd);
}

}  // namespace
}  // namespace r7

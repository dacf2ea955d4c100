// The demo program directory's files: S-records with valid checksums and the
// right software-number field, and sequence files that the save reads as fits
// the simulated controllers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/srecord.h"
#include "setup/sequence_files.h"
#include "sim/catalog.h"
#include "sim/sample_files.h"

namespace r7::sim {
namespace {

// The checked records of an S-record file whose lines all end in CR LF, and
// the record types found in it ("S0S2S8").
SRecordReport check(const std::string& file, std::string& types) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end = 0; at < file.size(); at = end + 2) {
    end = file.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line " << lines.size() + 1 << " ends without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(file.substr(at, end - at));
  }
  SRecordReport report = check_srecord_lines(lines);
  for (const auto& [type, count] : report.records_by_type)
    types += type;
  return report;
}

TEST(SampleFiles, FirmwareImagesAreSoundAndCarryTheirSoftwareNumber) {
  for (const FirmwareSample& f : kFirmwareSamples) {
    std::string types;
    const SRecordReport r = check(firmware_file(f), types);
    EXPECT_TRUE(r.ok()) << f.file << ": " << (r.ok() ? "" : r.errors[0].message);
    EXPECT_EQ(types, "S0S2S8") << f.file;
    EXPECT_EQ(r.first_address, kFirmwareBase) << f.file;
    EXPECT_EQ(r.last_address, kFirmwareBase + f.size - 1) << f.file;
    EXPECT_EQ(r.data_bytes, f.size) << f.file;  // no gaps, no overlaps
    EXPECT_EQ(r.software_field.substr(0, 8), device_code(f.model)) << f.file;
    EXPECT_EQ(std::stoi(r.software_field.substr(8), nullptr, 16), f.software) << f.file;
  }
}

TEST(SampleFiles, DownloadApplicationsAreS1WithS9AndS2WithS8) {
  for (const bool newer : {false, true}) {
    std::string types;
    const SRecordReport r = check(download_application(newer), types);
    EXPECT_TRUE(r.ok()) << newer;
    EXPECT_EQ(types, newer ? "S0S2S8" : "S0S1S9");
    EXPECT_EQ(r.first_address, newer ? 0x080000U : 0x0800U);
  }
}

class SampleSequences : public ::testing::TestWithParam<int> {};

// The .cds lists every setup register of the catalog; the .pds gives every step
// type a section of step registers, the end step's ending with 4060.
TEST_P(SampleSequences, ReadAsTheSaveReadsThem) {
  const int model = GetParam();
  const DownloadSequence cds(split_text_lines(download_sequence_file(model)), "cds");
  EXPECT_TRUE(cds.has_profiles());
  std::vector<int> listed;
  for (const TextLine& line : cds.register_lines())
    listed.push_back(static_cast<int>(cds.register_of(line)));
  std::vector<int> catalog;
  for (const ParameterRegister& r : parameter_registers(model))
    catalog.push_back(r.number);
  EXPECT_EQ(listed, catalog);

  const ProfileSequence pds(split_text_lines(profile_sequence_file(model)), "pds");
  EXPECT_EQ(pds.profile_count(), max_profiles(model));
  for (int type = 0; type < kStepTypeCount; ++type) {
    const auto name = pds.section_name(std::to_string(type));
    ASSERT_TRUE(name.has_value()) << type;
    const std::size_t start = pds.section_start(*name);
    const auto to_end = pds.end_step_lines(start);
    const std::vector<TextLine> lines = type == 5
                                            ? std::vector<TextLine>(to_end.begin(), to_end.end())
                                            : pds.ordinary_step_lines(start);
    ASSERT_FALSE(lines.empty()) << *name;
    for (const TextLine& line : lines)
      EXPECT_NE(find_step_register(static_cast<int>(pds.register_of(line))), nullptr) << line.text;
    if (type == 5) {
      EXPECT_EQ(pds.register_of(lines.back()), 4060);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, SampleSequences, ::testing::Values(kModel6180, kModel6170));

}  // namespace
}  // namespace r7::sim

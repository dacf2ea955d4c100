// The demo program directory's files: S-records that parse with correct
// checksums and carry the software-number field, and sequence files that fit
// the simulated controllers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/catalog.h"
#include "sim/sample_files.h"
#include "sim/simulation.h"

namespace r7::sim {
namespace {

struct Record {
  char type;
  std::uint32_t address;
  std::string data;
};

// Parses an S-record file line by line, checking line ends, byte counts and
// checksums (ones' complement of the low byte of the sum).
std::vector<Record> parse_srecords(const std::string& file) {
  std::vector<Record> out;
  std::size_t at = 0;
  int number = 0;
  while (at < file.size()) {
    const auto end = file.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line " << number << " ends without CR LF";
    if (end == std::string::npos) break;
    const std::string line = file.substr(at, end - at);
    at = end + 2;
    ++number;
    EXPECT_EQ(line[0], 'S') << number;
    EXPECT_EQ(line.size() % 2, 0U) << number;
    std::vector<unsigned> b;
    for (std::size_t i = 2; i + 1 < line.size(); i += 2) {
      b.push_back(static_cast<unsigned>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    EXPECT_EQ(b[0] + 1, b.size()) << "byte count, line " << number;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
      sum += b[i];
    EXPECT_EQ((~sum) & 0xFFU, b.back()) << "checksum, line " << number;
    const char type = line[1];
    const std::size_t address_bytes = type == '2' || type == '8' ? 3 : 2;
    Record r{type, 0, {}};
    for (std::size_t i = 1; i <= address_bytes; ++i)
      r.address = r.address * 256 + b[i];
    for (std::size_t i = 1 + address_bytes; i + 1 < b.size(); ++i)
      r.data += static_cast<char>(b[i]);
    out.push_back(r);
  }
  return out;
}

// The software-number field as the download reads it: the 12 characters after
// "010000" of the first S2 line whose address-and-data begins so.
std::string field_of(const std::string& file) {
  std::istringstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string address_and_data = line.substr(4, line.size() - 6);
    if (line.substr(0, 2) == "S2" && address_and_data.rfind("010000", 0) == 0) {
      return address_and_data.substr(6, 12);
    }
  }
  return "123456789012";
}

TEST(SampleFirmware, RecordsAreWellFormedAndContiguous) {
  for (const FirmwareSample& f : kFirmwareSamples) {
    const std::vector<Record> records = parse_srecords(firmware_file(f));
    ASSERT_GE(records.size(), 3U) << f.file;
    EXPECT_EQ(records.front().type, '0');
    EXPECT_EQ(records.back().type, '8');
    EXPECT_GE(f.size, 128U * 1024);
    EXPECT_LE(f.size, 256U * 1024);
    std::uint32_t next = kFirmwareBase;
    for (std::size_t i = 1; i + 1 < records.size(); ++i) {
      ASSERT_EQ(records[i].type, '2') << f.file << " line " << i + 1;
      ASSERT_EQ(records[i].address, next) << f.file << " line " << i + 1;
      next += static_cast<std::uint32_t>(records[i].data.size());
    }
    EXPECT_EQ(next - kFirmwareBase, f.size) << f.file;
    EXPECT_GE(kSoftwareFieldAddress, kFirmwareBase);
    EXPECT_LT(kSoftwareFieldAddress, kFirmwareBase + f.size);
  }
}

TEST(SampleFirmware, FieldNamesTheModelAndPassesTheDefaultControllersCheck) {
  for (const FirmwareSample& f : kFirmwareSamples) {
    const std::string field = field_of(firmware_file(f));
    EXPECT_EQ(field.substr(0, 8), device_code(f.model)) << f.file;
    EXPECT_EQ(std::stoi(field.substr(8), nullptr, 16), f.software) << f.file;
    // The default controller's software number is below 10, so fields ending
    // 0000 to 0009 are accepted.
    const int software = *Simulation(f.model).controller().read_register(3);
    EXPECT_LT(software, 10);
    EXPECT_LT(field.substr(8), "000A") << f.file;
  }
  EXPECT_EQ(std::string(kFirmwareSamples[0].file), "731-0000.S19");
  EXPECT_EQ(std::string(kFirmwareSamples[3].file), "8830-0000.S19");
}

TEST(SampleDownloadApplications, S1WithS9AndS2WithS8) {
  const std::vector<Record> dnld = parse_srecords(download_application(false));
  EXPECT_EQ(dnld.front().type, '0');
  EXPECT_EQ(dnld.back().type, '9');
  EXPECT_TRUE(
      std::all_of(dnld.begin() + 1, dnld.end() - 1, [](const Record& r) { return r.type == '1'; }));
  const std::vector<Record> mole = parse_srecords(download_application(true));
  EXPECT_EQ(mole.back().type, '8');
  EXPECT_EQ(mole.back().address, 0x080004U);
  EXPECT_TRUE(
      std::all_of(mole.begin() + 1, mole.end() - 1, [](const Record& r) { return r.type == '2'; }));
}

TEST(SampleFiles, SrecordLineOfAKnownRecord) {
  EXPECT_EQ(srecord_line('1', 0x0000, 2, std::string("\xAA\xBB", 2)), "S1050000AABB95");
  EXPECT_EQ(srecord_line('9', 0x0000, 2, ""), "S9030000FC");
}

TEST(SampleFiles, SameEveryTime) {
  const auto a = sample_files();
  const auto b = sample_files();
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_EQ(a[i].content, b[i].content) << a[i].path;
  EXPECT_EQ(a.size(), 10U);
  const auto folders = sample_folders();
  EXPECT_NE(std::find(folders.begin(), folders.end(), "Reg Downloads"), folders.end());
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    out.push_back(line);
  return out;
}

class SampleSequences : public ::testing::TestWithParam<int> {};

TEST_P(SampleSequences, DownloadSequenceListsTheControllersRegisters) {
  const int model = GetParam();
  const std::vector<std::string> lines = lines_of(download_sequence_file(model));
  EXPECT_EQ(lines.front(), "YES");
  EXPECT_GT(lines.size(), 150U);
  Simulation sim(model);
  std::set<int> digital;
  int missing = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const auto blank = line.find(' ');
    ASSERT_NE(blank, std::string::npos) << line;
    ASSERT_GT(blank, 0U);
    ASSERT_TRUE(std::all_of(line.begin(), line.begin() + static_cast<long>(blank), [](char ch) {
      return std::isdigit(static_cast<unsigned char>(ch)) != 0;
    })) << line;
    EXPECT_GT(line.size(), blank + 1) << "no description: " << line;
    const int reg = std::stoi(line);
    if ((reg >= 1060 && reg <= 1067) || (reg >= 1075 && reg <= 1082)) digital.insert(reg);
    if (!sim.controller().read_register(reg)) ++missing;
  }
  EXPECT_EQ(digital.size(), 16U);
  EXPECT_GE(missing, 2);  // a few that a save leaves out
  EXPECT_LE(missing, 5);
}

TEST_P(SampleSequences, ProfileSequenceFitsTheStepRegisters) {
  const int model = GetParam();
  const std::vector<std::string> lines = lines_of(profile_sequence_file(model));
  EXPECT_EQ(std::stoi(lines[0]), max_profiles(model));
  EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(lines[1][0])));
  std::vector<int> index;
  std::size_t i = 2;
  for (; i < lines.size() && lines[i][0] != '['; ++i)
    index.push_back(std::stoi(lines[i]));
  std::vector<int> sorted = index;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(sorted, index);  // not in order
  for (int t = 0; t < kStepTypeCount; ++t)
    EXPECT_EQ(sorted[static_cast<std::size_t>(t)], t);

  // Every listed register is one that each step holds.
  Simulation sim(model);
  Controller& c = sim.controller();
  std::string section;
  std::string last_register;
  for (; i < lines.size(); ++i) {
    if (lines[i][0] == '[') {
      section = lines[i];
      continue;
    }
    const int reg = std::stoi(lines[i]);
    c.write_register(4000, 1);
    c.write_register(4001, 1);
    EXPECT_TRUE(c.read_register(reg).has_value()) << section << " " << reg;
    last_register = lines[i];
  }
  EXPECT_EQ(section, "[End]");
  EXPECT_EQ(std::stoi(last_register), 4060);
}

INSTANTIATE_TEST_SUITE_P(Models, SampleSequences, ::testing::Values(kModel6180, kModel6170));

}  // namespace
}  // namespace r7::sim

#include "flash/srecord.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "errors/run_error.h"

namespace r7 {

namespace {

int hex_value(char c) {  // upper-case digits only, as the transfer reads them
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string hex2(unsigned v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFU);
  return buf;
}

// Address bytes of a record type, 0 for types without a data address.
int address_bytes(char type) {
  switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
      return 2;
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    default:
      return 0;
  }
}

void check_line(const std::string& line, int number, SRecordReport& report) {
  auto error = [&](const std::string& message) { report.errors.push_back({number, message}); };
  if (line.empty()) return error("empty line");
  if (line.size() < 2 || line[0] != 'S' || address_bytes(line[1]) == 0) {
    return error("not an S-record line");
  }
  const std::string type = line.substr(0, 2);
  ++report.records_by_type[type];
  if (type != "S0" && type != "S1" && type != "S2" && type != "S8" && type != "S9") {
    error("record type " + type + " is not sent by the download; the line will be skipped");
  }
  const std::string digits = line.substr(2);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (hex_value(digits[i]) < 0) {
      return error("invalid character '" + std::string(1, digits[i]) + "' at column " +
                   std::to_string(i + 3));
    }
  }
  if (digits.size() % 2 != 0) return error("odd number of hex digits");
  if (digits.size() < 4) return error("line too short");
  std::vector<unsigned> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<unsigned>(hex_value(digits[i]) * 16 + hex_value(digits[i + 1])));
  }
  const unsigned count = bytes[0];
  if (count != bytes.size() - 1) {
    return error("byte count " + hex2(count) + " but " + std::to_string(bytes.size() - 1) +
                 " bytes follow");
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
    sum += bytes[i];
  const unsigned expected = ~sum & 0xFFU;
  if (bytes.back() != expected) {
    error("checksum " + hex2(bytes.back()) + ", expected " + hex2(expected));
  }
  const int abytes = address_bytes(line[1]);
  if (count < static_cast<unsigned>(abytes) + 1) return error("record too short for its address");
  if (type == "S1" || type == "S2" || type == "S3") {
    std::uint32_t address = 0;
    for (int i = 1; i <= abytes; ++i)
      address = address * 256 + bytes[static_cast<std::size_t>(i)];
    const std::size_t data = count - static_cast<unsigned>(abytes) - 1;
    report.data_bytes += data;
    if (data > 0) {
      const std::uint32_t last = address + static_cast<std::uint32_t>(data) - 1;
      if (!report.first_address || address < *report.first_address) report.first_address = address;
      if (!report.last_address || last > *report.last_address) report.last_address = last;
    }
  }
}

}  // namespace

std::vector<std::string> read_srecord_lines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw RunError(err::kFileNotFound, "cannot open " + file.string(), file.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw RunError(err::kInputPastEnd, "cannot read " + file.string(), file.string());
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);  // a last line without its line end
  return lines;
}

std::string software_number_field(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.size() < 6) break;  // cannot be cut: the search ends here
    const std::string type = line.substr(0, 2);
    const std::string data = line.substr(4, line.size() - 6);
    if (type == "S2" && data.compare(0, 6, "010000") == 0) return data.substr(6, 12);
  }
  return kNoSoftwareField;
}

SRecordReport check_srecord_lines(const std::vector<std::string>& lines) {
  SRecordReport report;
  report.lines = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    check_line(lines[i], static_cast<int>(i + 1), report);
  }
  report.software_field = software_number_field(lines);
  return report;
}

}  // namespace r7

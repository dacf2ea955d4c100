#include "samples/sample_files.h"

#include <cstdio>
#include <stdexcept>

#include "modbus/registers.h"
#include "sim/catalog.h"

namespace r7::sim {

namespace {

constexpr char kCrLf[] = "\r\n";
constexpr std::size_t kFirmwareRecordBytes = 32;
constexpr std::size_t kS1RecordBytes = 16;
constexpr std::uint32_t kDnldBase = 0x0800;
constexpr std::uint32_t kDnldSize = 4 * 1024;
constexpr std::uint32_t kMoleBase = 0x080000;
constexpr std::uint32_t kMoleSize = 6 * 1024;

std::string hex_byte(unsigned v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFU);
  return buf;
}

// A small xorshift generator: the same bytes on every build and platform.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : x_(seed == 0 ? 0x9E3779B9U : seed) {}
  std::uint8_t next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return static_cast<std::uint8_t>(x_ >> 24);
  }

 private:
  std::uint32_t x_;
};

std::uint32_t seed_of(const std::string& text) {
  std::uint32_t h = 2166136261U;  // FNV-1a
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619U;
  }
  return h;
}

// Code-like filler with a text block at `text_at`.
std::string image_bytes(std::uint32_t size, const std::string& name, std::size_t text_at,
                        const std::string& text) {
  Noise noise(seed_of(name));
  std::string image;
  image.reserve(size);
  for (std::uint32_t i = 0; i < size; ++i)
    image += static_cast<char>(noise.next());
  image.replace(text_at, text.size(), text);
  return image;
}

std::string records(const std::string& image, std::uint32_t base, char type, int address_bytes,
                    std::size_t per_line) {
  std::string out;
  for (std::size_t at = 0; at < image.size(); at += per_line) {
    out += srecord_line(type, base + static_cast<std::uint32_t>(at), address_bytes,
                        image.substr(at, per_line));
    out += kCrLf;
  }
  return out;
}

std::string header_line(const std::string& text) {
  return srecord_line('0', 0, 2, text) + kCrLf;
}

}  // namespace

std::string srecord_line(char type, std::uint32_t address, int address_bytes,
                         const std::string& data) {
  const std::size_t count = static_cast<std::size_t>(address_bytes) + data.size() + 1;
  if (count > 255) throw std::invalid_argument("S-record too long");
  unsigned sum = static_cast<unsigned>(count);
  std::string line = std::string("S") + type + hex_byte(static_cast<unsigned>(count));
  for (int i = address_bytes - 1; i >= 0; --i) {
    const unsigned b = (address >> (8 * i)) & 0xFFU;
    sum += b;
    line += hex_byte(b);
  }
  for (char c : data) {
    sum += static_cast<unsigned char>(c);
    line += hex_byte(static_cast<unsigned char>(c));
  }
  line += hex_byte(~sum & 0xFFU);  // ones' complement of the low byte of the sum
  return line;
}

std::string download_sequence_file(int model) {
  std::string out = "YES\n";
  for (const ParameterRegister& r : parameter_registers(model)) {
    out += std::to_string(r.number) + " " + r.description + "\n";
  }
  return out;
}

std::string profile_sequence_file(int model) {
  std::string out = std::to_string(max_profiles(model)) + " Profiles\n";
  out += "Step Type Index\n";
  for (int type : kStepTypeIndexOrder) {
    out += std::to_string(type) + " " + kStepTypes[static_cast<std::size_t>(type)].name + "\n";
  }
  // The end step's section comes last: a save reads it up to 4060, or to the
  // end of the file when 4060 holds 3.
  for (int pass = 0; pass < 2; ++pass) {
    for (const StepTypeInfo& t : kStepTypes) {
      if ((t.type == reg::kStepTypeEnd) != (pass == 1)) continue;
      out += std::string("[") + t.name + "]\n";
      for (int i = 0; i < t.count; ++i) {
        const int reg = t.registers[static_cast<std::size_t>(i)];
        out += std::to_string(reg) + " " + find_step_register(reg)->description + "\n";
      }
    }
  }
  return out;
}

std::string firmware_file(const FirmwareSample& sample) {
  const std::string name = std::string(sample.file).substr(0, std::string(sample.file).find('.'));
  const std::string code = device_code(sample.model);
  std::string field;
  for (std::size_t i = 0; i < code.size(); i += 2) {
    field += static_cast<char>(std::stoi(code.substr(i, 2), nullptr, 16));
  }
  field += static_cast<char>((sample.software >> 8) & 0xFF);
  field += static_cast<char>(sample.software & 0xFF);
  field += "R7 " + std::to_string(sample.model) + " FIRMWARE " + name;

  const std::string banner = "R7 controller firmware " + name + " - r7flash demonstration image";
  std::string image = image_bytes(sample.size, name, 0x100, banner);
  image.replace(kSoftwareFieldAddress - kFirmwareBase, field.size(), field);

  std::string out = header_line(name);
  out += records(image, kFirmwareBase, '2', 3, kFirmwareRecordBytes);
  out += srecord_line('8', kFirmwareBase + 4, 3, "") + kCrLf;
  return out;
}

std::string download_application(bool newer_loader) {
  if (newer_loader) {
    const std::string image =
        image_bytes(kMoleSize, "Mole_R7", 0x40, "R7 download application (newer loader)");
    return header_line("Mole_R7") + records(image, kMoleBase, '2', 3, kFirmwareRecordBytes) +
           srecord_line('8', kMoleBase + 4, 3, "") + kCrLf;
  }
  const std::string image = image_bytes(kDnldSize, "Dnld_R7", 0x40, "R7 download application");
  return header_line("Dnld_R7") + records(image, kDnldBase, '1', 2, kS1RecordBytes) +
         srecord_line('9', kDnldBase + 4, 2, "") + kCrLf;
}

std::vector<SampleFile> sample_files() {
  std::vector<SampleFile> files;
  for (int model : {kModel6180, kModel6170}) {
    const std::string stem = "Download Sequences/" + std::to_string(model);
    files.push_back({stem + ".cds", download_sequence_file(model)});
    files.push_back({stem + ".pds", profile_sequence_file(model)});
  }
  files.push_back({"Dnld_R7.s19", download_application(false)});
  files.push_back({"Mole_R7.s19", download_application(true)});
  for (const FirmwareSample& f : kFirmwareSamples)
    files.push_back({f.file, firmware_file(f)});
  return files;
}

std::vector<std::string> sample_folders() {
  return {"Download Sequences", "Reg Downloads"};
}

}  // namespace r7::sim

#include "flash/file_transfer.h"

#include <system_error>
#include <vector>

#include "base/run_error.h"
#include "flash/srecord.h"

namespace r7 {

bool transfer_srecord_file(Bootloader& boot, Prompts& prompts, const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  std::vector<SRecord> records;
  try {
    records = read_srecords(path);
  } catch (const RunError&) {
    prompts.message("The file " + path.string() + " could not be read.", "File Transfer",
                    Icon::Critical);
    return false;
  }
  return boot.transfer(records, ec ? 0 : static_cast<int>(size));
}

}  // namespace r7

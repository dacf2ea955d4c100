// An S-record file sent through the bootloader: read whole first, so a file
// that cannot be read sends nothing.
#pragma once

#include <filesystem>

#include "flash/bootloader.h"
#include "seams/prompts.h"

namespace r7 {

// Every S1/S2 record of `path`, the progress bar running to the file's size;
// true when all were acknowledged. A file that cannot be read is named in a
// message and fails the transfer.
bool transfer_srecord_file(Bootloader& boot, Prompts& prompts, const std::filesystem::path& path);

}  // namespace r7

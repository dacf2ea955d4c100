// SHA-256 (FIPS 180-4), for the digests of the files a job used. Fed in
// pieces, so a firmware file is hashed as it is read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace r7 {

class Sha256 {
 public:
  Sha256();
  void update(std::string_view bytes);
  // The digest of everything fed in; the object is spent afterwards.
  std::array<std::uint8_t, 32> finish();
  // finish() as 64 lower-case hex digits.
  std::string finish_hex();

 private:
  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t used_ = 0;      // bytes waiting in block_
  std::uint64_t length_ = 0;  // bytes fed in
};

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

}  // namespace r7

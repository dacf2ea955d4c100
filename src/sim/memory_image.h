// A sparse byte image over a 32-bit address space, kept in 4 KiB pages. As RAM
// every write replaces; as flash an erased byte reads 0xFF and programming can
// only clear bits, so writing different data over programmed bytes fails
// (writing the same data again succeeds, as a repeated record does).
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace r7::sim {

class MemoryImage {
 public:
  enum class Kind { Ram, Flash };
  explicit MemoryImage(Kind kind) : kind_(kind) {}

  // Stores `data` from `address` on; false (and nothing stored) when flash
  // would need bits set again.
  bool write(std::uint32_t address, std::string_view data);
  void clear() { pages_.clear(); }

  // 0xFF where nothing was written.
  std::uint8_t byte(std::uint32_t address) const;
  std::string read(std::uint32_t address, std::size_t count) const;
  bool written(std::uint32_t address) const;
  bool written(std::uint32_t address, std::size_t count) const;

  bool empty() const { return pages_.empty(); }
  // Bytes written at least once, the lowest and highest such address.
  std::size_t written_count() const;
  std::optional<std::uint32_t> lowest() const;
  std::optional<std::uint32_t> highest() const;
  // FNV-1a (64 bits) over the written bytes in address order, each with its
  // address: two images are the same byte for byte when these are equal.
  std::uint64_t digest() const;

 private:
  static constexpr std::uint32_t kPageSize = 4096;
  struct Page {
    Page() { data.fill(0xFF); }
    std::array<std::uint8_t, kPageSize> data;
    std::bitset<kPageSize> written;
  };

  Kind kind_;
  std::map<std::uint32_t, Page> pages_;  // by page number
};

}  // namespace r7::sim

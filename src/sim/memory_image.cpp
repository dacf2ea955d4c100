#include "sim/memory_image.h"

namespace r7::sim {

bool MemoryImage::write(std::uint32_t address, std::string_view data) {
  if (kind_ == Kind::Flash) {
    for (std::size_t i = 0; i < data.size(); ++i) {
      const auto v = static_cast<std::uint8_t>(data[i]);
      if ((byte(address + static_cast<std::uint32_t>(i)) & v) != v) return false;
    }
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::uint32_t a = address + static_cast<std::uint32_t>(i);
    Page& page = pages_[a / kPageSize];
    const auto v = static_cast<std::uint8_t>(data[i]);
    page.data[a % kPageSize] = kind_ == Kind::Flash ? (page.data[a % kPageSize] & v) : v;
    page.written.set(a % kPageSize);
  }
  return true;
}

std::uint8_t MemoryImage::byte(std::uint32_t address) const {
  auto it = pages_.find(address / kPageSize);
  return it == pages_.end() ? 0xFF : it->second.data[address % kPageSize];
}

std::string MemoryImage::read(std::uint32_t address, std::size_t count) const {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    s += static_cast<char>(byte(address + static_cast<std::uint32_t>(i)));
  }
  return s;
}

bool MemoryImage::written(std::uint32_t address) const {
  auto it = pages_.find(address / kPageSize);
  return it != pages_.end() && it->second.written.test(address % kPageSize);
}

bool MemoryImage::written(std::uint32_t address, std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (!written(address + static_cast<std::uint32_t>(i))) return false;
  }
  return true;
}

std::size_t MemoryImage::written_count() const {
  std::size_t n = 0;
  for (const auto& [number, page] : pages_)
    n += page.written.count();
  return n;
}

std::uint64_t MemoryImage::digest() const {
  std::uint64_t h = 14695981039346656037ULL;
  const auto mix = [&h](std::uint32_t v) { h = (h ^ (v & 0xFFU)) * 1099511628211ULL; };
  for (const auto& [number, page] : pages_) {
    for (std::uint32_t i = 0; i < kPageSize; ++i) {
      if (!page.written.test(i)) continue;
      const std::uint32_t address = number * kPageSize + i;
      for (int shift = 16; shift >= 0; shift -= 8)
        mix(address >> shift);
      mix(page.data[i]);
    }
  }
  return h;
}

std::optional<std::uint32_t> MemoryImage::lowest() const {
  for (const auto& [number, page] : pages_) {
    for (std::uint32_t i = 0; i < kPageSize; ++i) {
      if (page.written.test(i)) return number * kPageSize + i;
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> MemoryImage::highest() const {
  for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) {
    for (std::uint32_t i = kPageSize; i-- > 0;) {
      if (it->second.written.test(i)) return it->first * kPageSize + i;
    }
  }
  return std::nullopt;
}

}  // namespace r7::sim

// Readable GoogleTest output for the simulated controller's setup, so that a
// failed comparison names the registers and profiles that differ.
#pragma once

#include <ostream>

#include "sim/controller.h"

namespace r7::sim {

inline void PrintTo(const Profile& p, std::ostream* os) {
  *os << "\"" << name_text(p) << "\" [";
  for (const Step& s : p.steps) {
    *os << " " << s.type << "(";
    for (const auto& [reg, value] : s.values)
      *os << reg << "=" << value << " ";
    *os << ")";
  }
  *os << " ]";
}

inline void PrintTo(const Snapshot& s, std::ostream* os) {
  *os << "\n registers:";
  for (const auto& [reg, value] : s.registers)
    *os << " " << reg << "=" << value;
  for (const auto& [number, profile] : s.profiles) {
    *os << "\n profile " << number << ": ";
    PrintTo(profile, os);
  }
  *os << "\n";
}

}  // namespace r7::sim

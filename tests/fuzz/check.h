// A fuzz target's assertion: a broken rule stops the run where it broke.
#pragma once

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

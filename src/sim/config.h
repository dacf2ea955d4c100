// How a simulated controller is set up: identity, timing, the line model and
// the faults it injects.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace r7::sim {

// Faults on the line, as r7sim's --fault SPEC gives them.
struct Faults {
  double drop = 0.0;          // drop:P     a reply is lost with probability P
  double crc = 0.0;           // crc:P      a reply's last byte (the CRC, the echoed
                              //            command, the probe answer) is inverted
  double garbage = 0.0;       // garbage[:P] stray bytes arrive 100 ms after a reply
  std::uint32_t late_ms = 0;  // late:MS  every reply starts MS later
  // refuse:REG[:CODE]  writes of REG answered with exception CODE (2 or 3)
  std::map<int, int> refuse;
  // Reads of REG answered with exception CODE (set by tests, no --fault).
  std::map<int, int> refuse_reads;
  // forget:REG  writes of REG are acknowledged (echoed) but not stored
  std::set<int> forget;
  // hangup:N  the line drops after every N-th exchange; the port then fails
  // with error 57 until it is closed and opened again
  int hangup_after = 0;
  // powercut:N  the power fails once, as the download application acknowledges
  // the N-th firmware record: the acknowledgement is lost and the controller
  // restarts into its resident bootloader (the download application is gone)
  int power_cut_after = 0;
};

// Adds one fault ("drop:0.1", "crc:0.05", "garbage", "late:300", "refuse:1602",
// "refuse:100:3", "forget:101", "hangup:20", "powercut:400"); throws std::invalid_argument for
// anything else.
void add_fault(Faults& faults, std::string_view spec);

// How reply bytes reach the master.
struct LineModel {
  // Reply bytes follow each other at the line rate of the port's baud rate,
  // 11 bits a character (9600 baud: 1.146 ms a character), and a request takes
  // its own line time before the controller sees it.
  bool pace = false;
  // USB-like delivery: bytes are handed over only at multiples of chunk_ms, at
  // most chunk_bytes at a time (--chunk 62:16). 0 switches it off.
  int chunk_bytes = 0;
  std::uint32_t chunk_ms = 0;
  // Time between the end of a request and the first reply byte.
  std::uint32_t turnaround_ms = 2;
  // Every byte a master writes comes back to it as it goes out on the line
  // (a 2-wire RS-485 adapter that hears its own transmitter; --echo).
  bool echo = false;
};

// Parses "BYTES:MS" (both above 0) into the chunk fields; throws
// std::invalid_argument.
void set_chunking(LineModel& line, std::string_view spec);

// How long the controller stays silent after the things that take it away.
struct Timing {
  std::uint32_t defaults_ms = 3000;    // after 1602 := 800
  std::uint32_t store_ms = 2000;       // after a write of register 25
  std::uint32_t bootloader_ms = 2000;  // after 1950 := 1414 / 1515
  std::uint32_t erase_ms = 3000;       // erase before its acknowledgement
  std::uint32_t power_up_ms = 1000;    // after power_cycle()
};

// Sets one silence, as r7sim's --timing SPEC gives it: "defaults:MS",
// "store:MS", "bootloader:MS", "erase:MS" or "power-up:MS" (0 to 600000);
// throws std::invalid_argument for anything else.
void set_timing(Timing& timing, std::string_view spec);

struct ControllerConfig {
  int model = 6180;
  int address = 1;
  int serial_a = 21;
  int serial_b = 30517;
  int software = 2;     // register 3
  int revision = 1850;  // register 4
  // Start with the demonstration setup (true) or at the defaults.
  bool demo_setup = true;
  // Modbus answers only at this baud rate; 0 answers at any.
  int modbus_baud = 0;
  std::uint32_t seed = 1;
  Timing timing;
  LineModel line;
  Faults faults;
};

// The configuration of a model's simulated controller (6180 or 6170); throws
// std::invalid_argument for other models.
ControllerConfig default_config(int model);

// The baud rate at the front of a settings string ("9600,N,8,1"), 0 when none.
int baud_of(std::string_view settings);

}  // namespace r7::sim

#pragma once

#include <array>
#include <string>
#include <string_view>

namespace avendro {

inline constexpr int kSlotCount = 20;     // check boxes aa1(0)..aa1(19)
inline constexpr int kProductCount = 16;  // slots 0..15 carry a program
inline constexpr int kNomiProgrammiCount = 21;

// One check-box slot. Path tails begin with ":\" and get the work drive
// letter in front; letter case and trailing blanks are part of the values.
struct Product {
  int slot;
  std::string_view caption;
  std::string_view processName;
  std::string_view diskPath;
  std::string_view diskMessage;
  std::string_view updateArchive;
  std::string_view updateLocalPath;
  std::string_view updateScriptPath;
  std::string_view installArchive;
  std::string_view installLocalPath;
};

// Slots 0..19 in order; 16..19 have no caption and no paths (19 has a
// process name only).
const std::array<Product, kSlotCount>& Catalogue();
const Product& Row(int slot);

// The process-name table: entries 0..19 from the catalogue, 20 empty.
using NomiProgrammi = std::array<std::string, kNomiProgrammiCount>;
NomiProgrammi FillNomiProgrammi();

// What start-up fills and every procedure reads afterwards.
struct Modu1 {
  char LetteraUnita = 'c';
  NomiProgrammi nomiProgrammi;
};

// `LetteraUnita` followed by a path tail that begins with ":\".
std::string OnDrive(char lettera, std::string_view tail);

}  // namespace avendro

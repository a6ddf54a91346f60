#include "protocol/guidance_sheet.h"

#include <array>
#include <string>

namespace protocol::guidance {
namespace {

// The printer's pictogram table, position by position; empty where it has none.
using Table = std::array<std::string_view, kPictogramPositions>;

constexpr Table MakeTable() {
  Table table{};
  const auto put = [&table](int position, std::string_view code) { table[position] = code; };
  constexpr std::string_view kF[] = {"F01", "F02", "F03", "F04", "F05", "F07", "F08",
                                     "F09", "F10", "F11", "F12", "F13", "F14", "F15"};
  for (int i = 0; i < 14; ++i) put(18 + i, kF[i]);  // 18-31
  put(32, "F06");
  constexpr std::string_view kD[] = {"D02", "D03", "D04", "D05", "D06", "D07", "D08", "D09", "D10"};
  for (int i = 0; i < 9; ++i) put(33 + i, kD[i]);  // 33-41
  put(42, "D01");
  put(43, "C01");
  put(44, "C08");
  put(45, "C09");
  put(46, "C06");
  put(47, "C07");
  constexpr std::string_view kC[] = {"C02", "C03", "C04", "C05"};
  for (int i = 0; i < 4; ++i) put(48 + i, kC[i]);  // 48-51
  put(52, "P07");
  constexpr std::string_view kP[] = {"P01", "P02", "P03", "P04", "P05", "P06"};
  for (int i = 0; i < 6; ++i) put(53 + i, kP[i]);  // 53-58
  put(59, "S01");
  put(60, "S03");
  put(61, "S04");
  put(62, "S05");
  constexpr std::string_view kI[] = {"I01", "I02", "I03", "I04"};
  for (int i = 0; i < 4; ++i) put(63 + i, kI[i]);  // 63-66
  put(67, "S02");
  put(70, "S06");
  constexpr std::string_view kPDown[] = {"P17", "P16", "P15", "P14", "P13", "P12", "P11", "P10"};
  for (int i = 0; i < 8; ++i) put(71 + i, kPDown[i]);  // 71-78
  put(79, "P09");
  put(80, "P08");
  put(81, "I06");
  put(82, "I05");
  put(83, "F16");
  constexpr std::string_view kE[] = {"E06", "E05", "E04", "E03", "E02", "E01"};
  for (int i = 0; i < 6; ++i) put(84 + i, kE[i]);  // 84-89
  constexpr std::string_view kDDown[] = {"D16", "D15", "D14", "D13", "D12", "D11"};
  for (int i = 0; i < 6; ++i) put(90 + i, kDDown[i]);  // 90-95
  put(96, "C18");
  put(97, "C17");
  put(98, "C16");
  return table;
}

constexpr Table kTable = MakeTable();

}  // namespace

std::optional<int> PictogramPosition(std::string_view code) {
  if (code.empty()) return std::nullopt;
  for (int position = 0; position < kPictogramPositions; ++position) {
    if (kTable[position] == code) return position;
  }
  return std::nullopt;
}

std::string_view PictogramCode(int position) {
  if (position < 0 || position >= kPictogramPositions) return {};
  return kTable[position];
}

}  // namespace protocol::guidance

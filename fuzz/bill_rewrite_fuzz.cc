// The bill header rewrite on any bill, for every pharmacy program's rules.
//
// Input: one byte choosing the program index (the known ones, and some without rules of their
// own), then the bill.
//
// What must hold: a bill is returned as it came or rewritten; a rewritten bill is whole lines
// (each ends with LF), grows by no more than one block and one LF for each line it had, and
// carries the pharmacy's identity block whenever it lost a line (no bill loses its identity
// lines without the block in their place).
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "hub/payments/bill_rewrite.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();  // a bill left as it came is logged below the prefix
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Input input(data, size);
  hub::payments::PharmacySettings settings;
  settings.program_index = static_cast<int>(input.Byte() % 24) - 2;
  settings.trade_name = "\xBF\xC0\xB8\xA3\xB5\xA8\xB6\xF3 \xBE\xE0\xB1\xB9";  // CP949
  settings.business_number = "123-45-67890";
  settings.owner_name = "\xC8\xAB\xB1\xE6\xB5\xBF";
  const std::string_view bill = input.Rest();

  const std::string rewritten = hub::payments::RewriteBill(bill, settings);
  if (rewritten == bill) return 0;
  const std::string block = hub::payments::IdentityBlock(settings);
  FUZZ_CHECK(!rewritten.empty() && rewritten.back() == '\n');
  size_t lines = 1;
  for (char c : bill) lines += c == '\n' ? 1 : 0;
  size_t lines_written = 0;
  for (char c : rewritten) lines_written += c == '\n' ? 1 : 0;
  FUZZ_CHECK(rewritten.find(block) != std::string::npos || lines_written >= lines);
  FUZZ_CHECK(rewritten.size() <= bill.size() + lines * (block.size() + 2));
  return 0;
}

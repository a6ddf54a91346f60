// journal_peer: the second process of the payment journal's crash tests. It writes card payments
// through the module's journal (the prefix's, on the system clock) and is killed by the test:
//
//   journal_peer approve N
//
// N times: begins a payment (terminal "1047312", request 51, amounts 10000/0/1000, card
// 941012******1234), marks it sent and approved with an answer frame, and prints "approved <id>"
// once the approval is written. Then it prints "idle" and waits for its standard input to end.
// Exit code 2 for a wrong command line, 1 when a payment could not be begun.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hub/payments/payment_journal_store.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::string_view(argv[1]) != "approve") {
    std::fprintf(stderr, "usage: journal_peer approve N\n");
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  hub::payments::PaymentJournalStore& journal = hub::payments::ModulePaymentJournal();
  hub::payments::JournalRequest request;
  request.terminal_id = "1047312";
  request.request_code = 51;
  request.amount1 = "10000";
  request.amount2 = "0";
  request.amount3 = "1000";
  request.total = 11000;
  request.masked_card = "941012******1234";
  for (long i = 0; i < count; ++i) {
    const hub::payments::JournalId id = journal.Begin(request);
    if (id == 0) return 1;
    journal.MarkSent(id);
    journal.MarkApproved(id, "30012345",
                         "\x02XX0052TRM052\x1C"
                         "1047312\x1C"
                         "0000\x03");
    std::printf("approved %lld\n", static_cast<long long>(id));
    std::fflush(stdout);
  }
  std::printf("idle\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}

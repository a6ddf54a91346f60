#include "hub/payments/payment_journal.h"

#include <atomic>

namespace hub::payments {
namespace {

std::atomic<PaymentJournal*> installed_journal{nullptr};

}  // namespace

void InstallPaymentJournal(PaymentJournal* journal) {
  installed_journal.store(journal, std::memory_order_release);
}

PaymentJournal* InstalledPaymentJournal() {
  return installed_journal.load(std::memory_order_acquire);
}

}  // namespace hub::payments

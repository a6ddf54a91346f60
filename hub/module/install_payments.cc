// The one place that sees both halves of the module: the gateway core (hub/core), which knows
// the payments side only through the hooks it declares (hub/core/pos_services.h), and the
// payments side (hub/payments), which fills them. This file is compiled into libOrdella_Hub.so
// itself (and into the tests that exercise the listeners with the real prints); its initialiser
// runs while the library loads, so the services are in place before the host can call
// CreateClientModule and the main thread starts the listeners.
#include "hub/core/pos_services.h"
#include "hub/payments/pos_services.h"

namespace hub {
namespace {

[[maybe_unused]] const bool payments_installed = [] {
  InstallPosServices(payments::ListenerPosServices());
  return true;
}();

}  // namespace
}  // namespace hub

#include "hub/core/pos_services.h"

namespace hub {
namespace {

// Constant-initialised (every hook empty), so an installation from another file's load-time
// initialiser never meets it unconstructed.
constinit PosServices installed_services;

}  // namespace

void InstallPosServices(const PosServices& services) { installed_services = services; }

const PosServices& InstalledPosServices() { return installed_services; }

}  // namespace hub

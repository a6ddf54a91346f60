#include "retalo/db/testing/standin_setup.h"

#include <cstdlib>

#include "platform/registry.h"
#include "retalo/db/server_choice.h"
#include "retalo/db/sql_backend.h"

namespace retalo::standin {

ServerSettings ServerForThisPrefix(const std::filesystem::path& databases) {
  ServerSettings server;
  server.name = ChooseServer(SystemServerLookup()) + "\\PM2005";
  server.login = "sa";
  server.password = "Vq7#mL2&xR";
  server.databases = databases;
  return server;
}

bool InstallStandIn(const std::filesystem::path& databases, std::string* error) {
  // The driver manager reads these two once per process: the registration is the build tree's
  // (CMakeLists.txt), one file for every test of the process, whatever prefix each one has.
  ::setenv("ODBCSYSINI", ORDELLA_STANDIN_ODBCSYSINI, 1);
  ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
  if (platform::RegSetString(kSettingsKey, kBackendValue, "odbc") != platform::RegStatus::kOk ||
      platform::RegSetString(kSettingsKey, kOdbcDriverValue, kDriverName) !=
          platform::RegStatus::kOk) {
    *error = "the registry settings cannot be written";
    return false;
  }
  if (!WriteControl(ServerForThisPrefix(databases), DropPlan{})) {
    *error = "the stand-in's settings cannot be written in " + ControlDir().string();
    return false;
  }
  return true;
}

}  // namespace retalo::standin

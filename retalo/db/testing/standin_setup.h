// Points the database writer of this prefix at the T-SQL stand-in through unixODBC: the driver
// registered in the build tree's odbc/odbcinst.ini (ODBCSYSINI names its folder), the registry
// settings that choose ODBC and that driver, and the stand-in told to answer as the server the
// writer chooses, with its login, on the pharmacy databases of `databases`.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "retalo/db/testing/standin_control.h"

namespace retalo::standin {

// The name the driver is registered under (the writer's "OdbcDriver" setting).
inline constexpr std::string_view kDriverName = "Ordella T-SQL stand-in";

// The server as the writer will name it: its choice of server and the instance PM2005.
ServerSettings ServerForThisPrefix(const std::filesystem::path& databases);

// False with *error when a file or a setting cannot be written.
bool InstallStandIn(const std::filesystem::path& databases, std::string* error);

}  // namespace retalo::standin

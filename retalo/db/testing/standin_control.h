// What the T-SQL stand-in server is told, and what it tells back: one settings file in the
// prefix, "<prefix>/sqlserver/server.ini", that the tests write and the stand-in's ODBC driver
// reads at every connect, and a state file beside it that the driver keeps while a planned
// connection drop counts its statements.
//
//   [server]
//   Name=MYPC\PM2005          the SERVER it answers as (empty: any)
//   Login=sa                   the login and password it accepts
//   Password=...
//   Databases=/path/to/pmdb    the folder of PM_DRUG.db, PM_BASE.db and PM_PRES.db
//   [drop]
//   Statement=INSERT INTO PM_PRES..SALE_SUB   the connection drops at the statement holding this
//   Occurrence=2                              ... at its n-th such statement over all connections
//   Commit=1                                  or at the first commit
//   RefuseConnection=2                        the second connection is refused (0: none)
//
// Both sides live in one process or two; nothing else than these files passes between them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace retalo::standin {

struct ServerSettings {
  std::string name;      // "HOST\INSTANCE"; empty: any SERVER is answered
  std::string login;     // empty: any UID
  std::string password;  // checked only with a login
  std::filesystem::path databases;
};

// A connection that goes away mid-call, as when the server or the network fails. From the
// statement (or commit) it drops at, everything on that connection fails with 08S01 and the
// transaction is gone; later connections work again.
// A refused connection is the server out of reach when a call connects.
struct DropPlan {
  std::string statement;  // empty: no statement drops the connection
  int occurrence = 1;
  bool at_commit = false;
  int refuse_connection = 0;  // the n-th connection (from 1) is refused; 0: none
};

struct DropState {
  int seen = 0;          // statements that held the planned text so far
  int connections = 0;   // connections counted while one is to be refused
  bool dropped = false;  // the planned drop (or refusal) has happened
};

// <prefix>/sqlserver, where both files live.
std::filesystem::path ControlDir();

// Writes the settings and the plan (replacing both) and clears the state. False when the files
// cannot be written.
bool WriteControl(const ServerSettings& server, const DropPlan& plan);

// The settings; nullopt when no stand-in has been set up in this prefix.
std::optional<ServerSettings> ReadServer();
DropPlan ReadDropPlan();

DropState ReadDropState();
bool WriteDropState(const DropState& state);

}  // namespace retalo::standin

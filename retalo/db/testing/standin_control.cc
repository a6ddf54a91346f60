#include "retalo/db/testing/standin_control.h"

#include <system_error>

#include "platform/files.h"
#include "platform/prefix.h"
#include "platform/profile.h"

namespace retalo::standin {
namespace {

// The files as the profile reader names them: below the prefix root.
constexpr std::string_view kServerFile = "sqlserver\\server.ini";
constexpr std::string_view kStateFile = "sqlserver\\drop_state.ini";

std::string Line(std::string_view key, std::string_view value) {
  return std::string(key) + "=" + std::string(value) + "\n";
}

bool Write(std::string_view name, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(ControlDir(), error);
  std::optional<std::filesystem::path> path = platform::MapPath(name);
  return path && platform::ReplaceFileDurably(*path, text).ok();
}

}  // namespace

std::filesystem::path ControlDir() { return platform::PrefixRoot() / "sqlserver"; }

bool WriteControl(const ServerSettings& server, const DropPlan& plan) {
  const std::string text = "[server]\n" + Line("Name", server.name) + Line("Login", server.login) +
                           Line("Password", server.password) +
                           Line("Databases", server.databases.string()) + "[drop]\n" +
                           Line("Statement", plan.statement) +
                           Line("Occurrence", std::to_string(plan.occurrence)) +
                           Line("Commit", plan.at_commit ? "1" : "0") +
                           Line("RefuseConnection", std::to_string(plan.refuse_connection));
  return Write(kServerFile, text) && WriteDropState(DropState{});
}

std::optional<ServerSettings> ReadServer() {
  ServerSettings server;
  server.databases = platform::ReadProfileString("server", "Databases", "", kServerFile);
  if (server.databases.empty()) return std::nullopt;
  server.name = platform::ReadProfileString("server", "Name", "", kServerFile);
  server.login = platform::ReadProfileString("server", "Login", "", kServerFile);
  server.password = platform::ReadProfileString("server", "Password", "", kServerFile);
  return server;
}

DropPlan ReadDropPlan() {
  DropPlan plan;
  plan.statement = platform::ReadProfileString("drop", "Statement", "", kServerFile);
  plan.occurrence = platform::GetPrivateProfileInt("drop", "Occurrence", 1, kServerFile);
  plan.at_commit = platform::GetPrivateProfileInt("drop", "Commit", 0, kServerFile) != 0;
  plan.refuse_connection =
      platform::GetPrivateProfileInt("drop", "RefuseConnection", 0, kServerFile);
  return plan;
}

DropState ReadDropState() {
  DropState state;
  state.seen = platform::GetPrivateProfileInt("state", "Seen", 0, kStateFile);
  state.connections = platform::GetPrivateProfileInt("state", "Connections", 0, kStateFile);
  state.dropped = platform::GetPrivateProfileInt("state", "Dropped", 0, kStateFile) != 0;
  return state;
}

bool WriteDropState(const DropState& state) {
  return Write(kStateFile, "[state]\n" + Line("Seen", std::to_string(state.seen)) +
                               Line("Connections", std::to_string(state.connections)) +
                               Line("Dropped", state.dropped ? "1" : "0"));
}

}  // namespace retalo::standin

#include "retalo/db/testing/standin_server.h"

#include "platform/prefix.h"
#include "retalo/db/sqlite_pool.h"

namespace retalo::standin {
namespace {

constexpr std::string_view kOrigin = "[Ordella][T-SQL stand-in]";
constexpr std::string_view kCatalogue = "master";

ServerError Make(std::string_view sqlstate, int native, std::string_view message) {
  return ServerError{std::string(sqlstate), native, std::string(kOrigin) + std::string(message)};
}

// Names compare as Windows compares them.
bool SameText(std::string_view a, std::string_view b) {
  return platform::NamesEqualIgnoringCase(a, b);
}

// SQL Server's class of a failed statement, from the T-SQL layer's or SQLite's message.
ServerError StatementError(const std::string& message) {
  struct Kind {
    std::string_view marker;
    std::string_view sqlstate;
    int native;
  };
  static constexpr Kind kKinds[] = {
      {"unsupported T-SQL", "42000", 102},  {"syntax error", "42000", 102},
      {"no such table", "42S02", 208},      {"no such column", "42S22", 207},
      {"constraint failed", "23000", 2627},
  };
  for (const Kind& kind : kKinds) {
    if (message.find(kind.marker) != std::string::npos) {
      return Make(kind.sqlstate, kind.native, message);
    }
  }
  return Make("HY000", 0, message);
}

}  // namespace

std::string ConnectionAttribute(std::string_view text, std::string_view key) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t equals = text.find('=', at);
    if (equals == std::string_view::npos) break;
    std::string_view name = text.substr(at, equals - at);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string value;
    size_t next = equals + 1;
    if (next < text.size() && text[next] == '{') {
      // "}}" inside braces is one brace; the value ends at a single "}".
      for (++next; next < text.size(); ++next) {
        if (text[next] == '}') {
          if (next + 1 < text.size() && text[next + 1] == '}') {
            value += '}';
            ++next;
            continue;
          }
          ++next;
          break;
        }
        value += text[next];
      }
      next = text.find(';', next);
    } else {
      const size_t end = text.find(';', next);
      value = std::string(text.substr(next, end == std::string_view::npos ? end : end - next));
      next = end;
    }
    if (SameText(name, key)) return value;
    if (next == std::string_view::npos) break;
    at = next + 1;
  }
  return {};
}

ServerConnection::ServerConnection(std::unique_ptr<SqliteConnection> db) : db_(std::move(db)) {}

ServerConnection::~ServerConnection() {
  if (in_transaction_ && !dropped_) {
    std::string ignored;
    db_->Exec("ROLLBACK", &ignored);
  }
}

std::unique_ptr<ServerConnection> ServerConnection::Connect(std::string_view connection_string,
                                                            ServerError* error) {
  const std::optional<ServerSettings> server = ReadServer();
  const std::string name = ConnectionAttribute(connection_string, "SERVER");
  if (!server || (!server->name.empty() && !SameText(server->name, name))) {
    *error = Make("08001", 53,
                  "A network-related error occurred: server '" + name +
                      "' was not found or was not accessible.");
    return nullptr;
  }
  const std::string login = ConnectionAttribute(connection_string, "UID");
  if (!server->login.empty() &&
      (login != server->login ||
       ConnectionAttribute(connection_string, "PWD") != server->password)) {
    *error = Make("28000", 18456, "Login failed for user '" + login + "'.");
    return nullptr;
  }
  const std::string catalogue = ConnectionAttribute(connection_string, "DATABASE");
  if (!catalogue.empty() && !SameText(catalogue, kCatalogue)) {
    *error = Make(
        "42000", 4060,
        "Cannot open database \"" + catalogue + "\" requested by the login. The login failed.");
    return nullptr;
  }
  const DropPlan plan = ReadDropPlan();
  if (DropState state = ReadDropState(); plan.refuse_connection > 0 && !state.dropped) {
    state.dropped = ++state.connections == plan.refuse_connection;
    WriteDropState(state);
    if (state.dropped) {
      *error = Make("08001", 53, "server '" + name + "' did not answer");
      return nullptr;
    }
  }
  std::string reason;
  std::unique_ptr<SqliteConnection> db = SqliteConnection::Open(server->databases, &reason);
  if (db == nullptr) {
    *error = Make("08001", 53, "server '" + name + "' cannot open its databases: " + reason);
    return nullptr;
  }
  std::unique_ptr<ServerConnection> connection(new ServerConnection(std::move(db)));
  connection->plan_ = plan;
  return connection;
}

bool ServerConnection::Lost(ServerError* error) const {
  *error = Make("08S01", 10054, "Communication link failure");
  return false;
}

void ServerConnection::Drop() {
  // The server ends the session: whatever it had open is rolled back.
  if (in_transaction_) {
    std::string ignored;
    db_->Exec("ROLLBACK", &ignored);
  }
  in_transaction_ = false;
  dropped_ = true;
  DropState state = ReadDropState();
  state.dropped = true;
  WriteDropState(state);
}

bool ServerConnection::DropsAt(std::string_view batch) {
  if (plan_.statement.empty() || batch.find(plan_.statement) == std::string_view::npos) {
    return false;
  }
  DropState state = ReadDropState();
  if (state.dropped) return false;
  ++state.seen;
  WriteDropState(state);
  if (state.seen != plan_.occurrence) return false;
  Drop();
  return true;
}

bool ServerConnection::Run(const char* sql, ServerError* error) {
  std::string reason;
  if (db_->Exec(sql, &reason)) return true;
  *error = StatementError(reason);
  return false;
}

bool ServerConnection::Execute(std::string_view batch, std::vector<BatchPart>* parts,
                               ServerError* error) {
  parts->clear();
  if (dropped_ || DropsAt(batch)) return Lost(error);
  if (!autocommit_ && !in_transaction_) {
    // The write lock is taken at once, as the embedded backend's transactions do.
    if (!Run("BEGIN IMMEDIATE", error)) return false;
    in_transaction_ = true;
  }
  tsql::BatchResult result;
  std::string reason;
  if (!db_->session().Run(batch, &result, &reason)) {
    *error = StatementError(reason);
    return false;
  }
  for (tsql::ResultSet& set : result.result_sets) {
    parts->push_back(BatchPart{true, std::move(set), -1});
  }
  if (parts->empty() || result.rows_affected > 0) {
    parts->push_back(BatchPart{false, {}, result.rows_affected});
  }
  return true;
}

bool ServerConnection::SetAutocommit(bool on, ServerError* error) {
  if (dropped_) return Lost(error);
  if (on && in_transaction_) {
    if (!Run("COMMIT", error)) return false;
    in_transaction_ = false;
  }
  autocommit_ = on;
  return true;
}

bool ServerConnection::EndTransaction(bool commit, ServerError* error) {
  if (dropped_) return Lost(error);
  if (commit && plan_.at_commit && !ReadDropState().dropped) {
    Drop();
    return Lost(error);
  }
  if (!in_transaction_) return true;
  if (!Run(commit ? "COMMIT" : "ROLLBACK", error)) return false;
  in_transaction_ = false;
  return true;
}

}  // namespace retalo::standin

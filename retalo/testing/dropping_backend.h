// A database whose connection drops in the middle of an export: the embedded SQLite backend,
// except that once a chosen statement comes, it and everything after it (commit included)
// fail, as when the server goes away between two statements. Later connections of the same
// call open again normally, so a failure can be placed in either phase of an export.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "retalo/db/ado_connection.h"
#include "retalo/db/sqlite_backend.h"

namespace retalo::testing {

struct DropPlan {
  std::string at_text;  // the connection drops at the first statement containing this
  int occurrence = 1;   // ... at its n-th such statement
  int seen = 0;
  bool dropped = false;
};

class DroppingBackend final : public SqlBackend {
 public:
  explicit DroppingBackend(std::shared_ptr<DropPlan> plan) : plan_(std::move(plan)) {}

  bool Open(const ConnectionSettings& settings, std::string* error) override {
    dropped_here_ = false;
    return inner_.Open(settings, error);
  }
  bool Execute(std::string_view text, SqlOutcome* out, std::string* error) override {
    if (!dropped_here_ && !plan_->dropped && text.find(plan_->at_text) != std::string_view::npos &&
        ++plan_->seen == plan_->occurrence) {
      plan_->dropped = dropped_here_ = true;
    }
    if (dropped_here_) return Lost(error);
    return inner_.Execute(text, out, error);
  }
  bool Begin(std::string* error) override { return inner_.Begin(error); }
  bool Commit(std::string* error) override {
    return dropped_here_ ? Lost(error) : inner_.Commit(error);
  }
  bool Rollback(std::string* error) override { return inner_.Rollback(error); }
  void Close() override { inner_.Close(); }

 private:
  static bool Lost(std::string* error) {
    *error = "connection lost";
    return false;
  }

  std::shared_ptr<DropPlan> plan_;
  SqliteBackend inner_;
  bool dropped_here_ = false;
};

// Connections of an export that drop as `plan` says.
inline CAdoConnection::Options DropConnection(std::shared_ptr<DropPlan> plan) {
  CAdoConnection::Options options;
  options.make_backend = [plan](BackendKind) -> std::unique_ptr<SqlBackend> {
    return std::make_unique<DroppingBackend>(plan);
  };
  return options;
}

}  // namespace retalo::testing

// A database whose connection drops in the middle of an export: the embedded SQLite backend,
// except that once the planned statement (or commit) comes, it and everything after it
// (commit included) fail, as when the server goes away between two statements. Later
// connections of the same call open again normally, so a failure can be placed in either
// phase of an export; or the planned connection itself is refused. The plan is the one the T-SQL
// stand-in server follows over ODBC (retalo/db/testing/standin_control.h), so a test places a
// failure the same way on both.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "retalo/db/ado_connection.h"
#include "retalo/db/sqlite_backend.h"
#include "retalo/db/testing/standin_control.h"

namespace retalo::testing {

// A plan and how far it has come.
struct DropProgress {
  standin::DropPlan plan;
  standin::DropState state;
};

class DroppingBackend final : public SqlBackend {
 public:
  explicit DroppingBackend(std::shared_ptr<DropProgress> progress)
      : progress_(std::move(progress)) {}

  bool Open(const ConnectionSettings& settings, std::string* error) override {
    dropped_here_ = false;
    standin::DropState& state = progress_->state;
    if (progress_->plan.refuse_connection > 0 && !state.dropped &&
        ++state.connections == progress_->plan.refuse_connection) {
      state.dropped = true;
      *error = "connection refused";
      return false;
    }
    return inner_.Open(settings, error);
  }
  bool Execute(std::string_view text, SqlOutcome* out, std::string* error) override {
    const standin::DropPlan& plan = progress_->plan;
    standin::DropState& state = progress_->state;
    if (!dropped_here_ && !state.dropped && !plan.statement.empty() &&
        text.find(plan.statement) != std::string_view::npos && ++state.seen == plan.occurrence) {
      Drop();
    }
    if (dropped_here_) return Lost(error);
    return inner_.Execute(text, out, error);
  }
  bool Begin(std::string* error) override { return inner_.Begin(error); }
  bool Commit(std::string* error) override {
    if (!dropped_here_ && progress_->plan.at_commit && !progress_->state.dropped) Drop();
    return dropped_here_ ? Lost(error) : inner_.Commit(error);
  }
  bool Rollback(std::string* error) override { return inner_.Rollback(error); }
  void Close() override { inner_.Close(); }

 private:
  static bool Lost(std::string* error) {
    *error = "connection lost";
    return false;
  }
  void Drop() { progress_->state.dropped = dropped_here_ = true; }

  std::shared_ptr<DropProgress> progress_;
  SqliteBackend inner_;
  bool dropped_here_ = false;
};

// Connections of an export that drop as `progress` plans.
inline CAdoConnection::Options DropConnection(std::shared_ptr<DropProgress> progress) {
  CAdoConnection::Options options;
  options.make_backend = [progress](BackendKind) -> std::unique_ptr<SqlBackend> {
    return std::make_unique<DroppingBackend>(progress);
  };
  return options;
}

}  // namespace retalo::testing

// Runs the system's T-SQL texts for the pharmacy database on the embedded SQLite backend.
//
// The pharmacy database is three SQLite files attached to one connection under the names
// PM_DRUG, PM_BASE and PM_PRES, text stored as UTF-8. The texts the system sends are written for
// SQL Server; this layer tokenizes and parses them, checks them against the subset of T-SQL that
// the system uses, and runs them with the results SQL Server would give. A construct outside that
// subset fails with a message naming it; nothing is passed through unchecked.
#ifndef RETALO_DB_TSQL_TSQL_H_
#define RETALO_DB_TSQL_TSQL_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tsql {

struct Cell {
  bool is_null = false;
  std::string text;  // UTF-8 text form of the value
};

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

struct BatchResult {
  std::vector<ResultSet> result_sets;  // one per statement that returned rows (SELECT)
  long long rows_affected = 0;         // of the last data-changing statement
};

// Registers the SQL Server functions (and the comparison collation "TSQL") on a connection.
// Call once after open, before RunBatch or Translate.
bool RegisterFunctions(sqlite3* db, std::string* error);

// Runs a T-SQL batch (one or several statements, ';' or newline separated, IF/BEGIN/END blocks,
// DECLARE/SET variables) on `db`, which has PM_DRUG, PM_BASE and PM_PRES attached. The whole
// batch is parsed and translated first (a construct outside the subset fails it before anything
// runs); statements then run in order and the first failure stops the batch: false, and *error
// names the construct not supported ("unsupported T-SQL: <construct> near '<text>'") or carries
// SQLite's message (or the SQL Server conversion error raised while running). Transactions are
// the caller's. `out` may be null when the caller wants no results. The same as one run of a
// fresh Session.
bool RunBatch(sqlite3* db, std::string_view tsql_utf8, BatchResult* out, std::string* error);

// RunBatch for the texts of one connection, keeping between runs what a run would otherwise
// build anew:
// - the translation of a batch, shared by every text with the same tokens once its literals are
//   set aside. A literal whose value cannot change the translation (a value compared, inserted,
//   computed with) becomes a parameter bound at each run; one whose value does (a TOP, a CONVERT
//   style, an ORDER BY position, STR's length) stays written, and the translation serves only
//   texts with that same value there. A literal's type (string length, number precision) is
//   part of the match, since the translation depends on it;
// - the prepared statement of every translated text. A statement is reset and its parameters
//   cleared as soon as its run ends, so that no statement stays active between runs.
// A batch of several statements that only read runs in one read transaction when the caller has
// none open, ended before Run returns.
// Texts that fail to translate are not kept. A session serves one thread at a time, like its
// connection; it finalizes its statements when destroyed, before the connection closes.
class Session {
 public:
  explicit Session(sqlite3* db);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Run(std::string_view tsql_utf8, BatchResult* out, std::string* error);
  // Drops every translation: the tables' declarations may have changed (they decide the
  // conversions a translation holds).
  void ForgetTranslations();
  // Translations kept, for tests and diagnostics.
  size_t translation_count() const;

  struct Caches;  // batch.cc

 private:
  // Runs a text without parameters or results (BEGIN, COMMIT) through the statement cache.
  bool RunFixed(const std::string& sql, std::string* error);

  sqlite3* db_;
  std::unique_ptr<Caches> caches_;
};

// Translation alone, for diagnostics and benchmarks: the SQLite statements a batch becomes when it
// has no control flow and no variables; false for batches that need RunBatch's interpretation.
bool Translate(sqlite3* db, std::string_view tsql_utf8, std::vector<std::string>* sqlite_statements,
               std::string* error);

// Parses and translates a whole batch, control flow included, without running it; for benchmarks
// of the translation of batches that Translate refuses. Returns the number of SQLite statements
// the batch holds (every branch counted), or -1 with *error set.
int CompileOnly(sqlite3* db, std::string_view tsql_utf8, std::string* error);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_TSQL_H_

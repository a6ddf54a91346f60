// The T-SQL layer's parser and translator on any text, against the pharmacy databases' schema.
//
// What must hold:
//   - a batch is either compiled or refused with a message (never refused in silence);
//   - what the translator gives for a batch without control flow is SQLite that SQLite can read:
//     nothing outside the subset is passed through unchecked, so no statement fails to prepare
//     for its syntax (a name the schema lacks is the text's fault, as on SQL Server);
//   - compiling a batch the translator takes counts its statements alike;
//   - translating is repeatable: the same text gives the same statements.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "retalo/db/tsql/tsql.h"
#include "tests/fixtures/fixture.h"

namespace {

sqlite3* g_db = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FUZZ_CHECK(sqlite3_open(":memory:", &g_db) == SQLITE_OK);
  // First: the schema's indexes use the TSQL collation.
  std::string error;
  FUZZ_CHECK(tsql::RegisterFunctions(g_db, &error));
  const std::string setup = "ATTACH ':memory:' AS PM_DRUG; ATTACH ':memory:' AS PM_BASE; "
                            "ATTACH ':memory:' AS PM_PRES;" +
                            std::string(fixture::SchemaSql());
  FUZZ_CHECK(sqlite3_exec(g_db, setup.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string error;
  const int statements = tsql::CompileOnly(g_db, text, &error);
  FUZZ_CHECK(statements >= -1);
  if (statements < 0) FUZZ_CHECK(!error.empty());

  std::vector<std::string> translated;
  error.clear();
  if (!tsql::Translate(g_db, text, &translated, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const std::string& sql : translated) {
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(g_db, sql.c_str(), static_cast<int>(sql.size()),
                                      &statement, nullptr);
    if (rc != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(g_db);
      const bool unreadable = message.find("syntax error") != std::string::npos ||
                              message.find("unrecognized token") != std::string::npos ||
                              message.find("incomplete input") != std::string::npos;
      if (unreadable) {
        std::fprintf(stderr, "SQLite cannot read the translation: %s\n%s\n", message.c_str(),
                     sql.c_str());
      }
      FUZZ_CHECK(!unreadable);
    }
    sqlite3_finalize(statement);
  }
  // The same batch compiled whole: the same statements.
  FUZZ_CHECK(statements == static_cast<int>(translated.size()));
  std::vector<std::string> again;
  FUZZ_CHECK(tsql::Translate(g_db, text, &again, &error));
  FUZZ_CHECK(again == translated);
  return 0;
}

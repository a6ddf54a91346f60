// What one database export costs: a connection opened for the call, a barcode look-up read, or
// a stock update written in a transaction, and the connection closed again. The same through
// both backends, on the fixture's demo pharmacy in a private temporary prefix; and one whole
// HasBarcode export call as Helvar makes it, on the embedded databases.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "retalo/db/ado_connection.h"
#include "retalo/db/odbc_backend.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"
#include "tests/fixtures/fixture.h"

namespace {

// A temporary prefix with the demo databases, shared by every benchmark of the run.
const std::filesystem::path& Prefix() {
  static const std::filesystem::path prefix = [] {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ordella-db-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("ORDELLA_PREFIX", dir.c_str(), 1);
    std::string error;
    if (!fixture::LoadFixture(fixture::DefaultDir(), &error)) {
      std::fprintf(stderr, "db_bench: %s\n", error.c_str());
      std::exit(1);
    }
    std::atexit([] { std::filesystem::remove_all(Prefix()); });
    return dir;
  }();
  return prefix;
}

std::unique_ptr<retalo::CAdoConnection> Embedded() {
  return std::make_unique<retalo::CAdoConnection>();
}

// The SQLite ODBC driver has only the narrow API; the driver manager converts the wide calls
// to the locale's character set, which must be UTF-8 like the database files.
std::unique_ptr<retalo::CAdoConnection> OdbcOnSqlite() {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  retalo::ConnectionSettings settings;
  settings.odbc_connection =
      "DRIVER=SQLite3;Database=" + (fixture::DefaultDir() / "PM_DRUG.db").string();
  return std::make_unique<retalo::CAdoConnection>(std::make_unique<retalo::OdbcBackend>(),
                                                  settings);
}

// The catalogue's barcode look-up on the embedded databases; ODBC on SQLite takes the SQLite
// form of the same read.
const std::string& EmbeddedRead() {
  static const std::string sql = retalo::FillSql(retalo::sql::kSelectBarcodeAnswer,
                                                 {"LIKE", "%%", "8801234567890", "LIKE", "%%",
                                                  "8801234567890", "LIKE", "%%", "8801234567890"});
  return sql;
}

const std::string& OdbcRead() {
  static const std::string sql = retalo::FillSql(
      "SELECT B.CD_CD_BARCODE AS BARCODE, A.GOODSNAME AS ETCNAME, A.SPLNAME, B.CD_NM_UNIT, "
      "B.CD_MY_UNIT, B.CD_IN_UNIT, IFNULL(C.IM_QT_SALE_DEBIT, 0) AS IM_QT_SALE_DEBIT FROM "
      "CD_GOODS AS A INNER JOIN CD_ITEM_UNIT_MEMBER AS B ON A.DRUGCODE = B.DRUGCODE LEFT JOIN "
      "IM_TOTAL AS C ON A.DRUGCODE = C.DRUGCODE WHERE B.CD_CD_BARCODE LIKE '%s%s' ORDER BY B.SN "
      "DESC LIMIT 1",
      {"%%", "8801234567890"});
  return sql;
}

void Read(benchmark::State& state, std::unique_ptr<retalo::CAdoConnection> (*connect)(),
          const std::string& (*sql)()) {
  Prefix();
  for (auto _ : state) {
    auto db = connect();
    if (!db->OpenConnection() || db->ExecuteSql(sql(), true) != retalo::kSqlOk) {
      state.SkipWithError(db->last_error().c_str());
      break;
    }
    benchmark::DoNotOptimize(db->GetFieldText("ETCNAME"));
    db->End();
  }
}

void Write(benchmark::State& state, std::unique_ptr<retalo::CAdoConnection> (*connect)(),
           std::string_view table) {
  Prefix();
  double stock = 0;
  for (auto _ : state) {
    auto db = connect();
    const std::string sql = retalo::FillSql(std::string("UPDATE ") + std::string(table) +
                                                " SET IM_QT_SALE_DEBIT = %g WHERE DRUGCODE = '%s'",
                                            {stock++, "ZP00000041"});
    if (!db->OpenWithTransaction() || db->ExecuteSql(sql, false) != retalo::kSqlOk ||
        !db->Commit()) {
      state.SkipWithError(db->last_error().c_str());
      break;
    }
    db->End();
  }
}

void BM_SqliteBarcodeRead(benchmark::State& state) { Read(state, Embedded, EmbeddedRead); }
void BM_OdbcBarcodeRead(benchmark::State& state) { Read(state, OdbcOnSqlite, OdbcRead); }
void BM_SqliteStockWrite(benchmark::State& state) { Write(state, Embedded, "PM_DRUG..IM_TOTAL"); }
void BM_OdbcStockWrite(benchmark::State& state) { Write(state, OdbcOnSqlite, "IM_TOTAL"); }

// The export itself: parse, connect, the look-up, the answer, the connection ended. Besides
// the mean, the median and 99th percentile of the single calls (p50_us, p99_us), which other
// programs' load on the machine disturbs less.
void BM_HasBarcodeExport(benchmark::State& state) {
  Prefix();
  char answer[1024];
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int rc = HasBarcode("8801234567890", answer, sizeof answer);
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
    if (rc != 1) {
      state.SkipWithError("HasBarcode did not find the demo barcode");
      break;
    }
    benchmark::DoNotOptimize(answer);
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

BENCHMARK(BM_HasBarcodeExport);
BENCHMARK(BM_SqliteBarcodeRead);
BENCHMARK(BM_OdbcBarcodeRead);
BENCHMARK(BM_SqliteStockWrite);
BENCHMARK(BM_OdbcStockWrite);

}  // namespace

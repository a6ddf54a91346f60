// What one database export costs: a connection opened for the call, a barcode look-up read, or
// a stock update written in a transaction, and the connection closed again. The same through
// both backends, on the fixture's demo pharmacy in a private temporary prefix; and one whole
// HasBarcode export call as Helvar makes it, on the embedded databases.
//
// Then a whole sale: SaveSaleData with a two-item sale on the embedded databases (sales per
// second), and the same call taken apart: its two connections, the translation of every T-SQL
// text it sends, and those texts run on one open connection (translation included; the run
// alone is the difference).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "retalo/database_util.h"
#include "retalo/db/ado_connection.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/odbc_backend.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/db/sqlite_backend.h"
#include "retalo/db/tsql/tsql.h"
#include "retalo/sale_recording.h"
#include "retalo/ordella_retalo.h"
#include "tests/fixtures/fixture.h"

namespace {

// A temporary prefix with the demo databases, shared by every benchmark of the run, removed at
// exit. The path is never destroyed: a handler registered while a static object is being built
// runs after that object's destructor, and would remove whatever its freed memory then names.
const std::filesystem::path& Prefix() {
  static const std::filesystem::path& prefix = *new std::filesystem::path([] {
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
  }());
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

// A two-item sale paid by card: two packs of ten tablets and three bottles.
std::string Field(std::string_view text) { return std::string(text) + "\xA2\xD4"; }
const std::string& SaleText() {
  static const std::string text = [] {
    std::string t;
    for (std::string_view f : {"1", "0000000001", "8182", "818", "1000", "2", "8806430100011",
                               "3000", "2000", "2", "DD", "8801234567890", "1000", "600", "3"}) {
      t += Field(f);
    }
    return t + "DD";
  }();
  return text;
}
const std::string& PaymentText() {
  static const std::string text = [] {
    std::string t;
    for (std::string_view f :
         {"8182", "818", "0", "C", "A12345", "T001", "9410123456789012", "00"}) {
      t += Field(f);
    }
    return t + Field(retalo::TodayText() + "153000") + "0";
  }();
  return text;
}

// The embedded backend, keeping the texts it is given.
class RecordingBackend final : public retalo::SqlBackend {
 public:
  explicit RecordingBackend(std::vector<std::string>* texts) : texts_(texts) {}
  bool Open(const retalo::ConnectionSettings& s, std::string* e) override {
    return inner_.Open(s, e);
  }
  bool Execute(std::string_view t, retalo::SqlOutcome* o, std::string* e) override {
    texts_->emplace_back(t);
    return inner_.Execute(t, o, e);
  }
  bool Begin(std::string* e) override { return inner_.Begin(e); }
  bool Commit(std::string* e) override { return inner_.Commit(e); }
  bool Rollback(std::string* e) override { return inner_.Rollback(e); }
  void Close() override { inner_.Close(); }

 private:
  std::vector<std::string>* texts_;
  retalo::SqliteBackend inner_;
};

// The texts one SaveSaleData call sends (CP949), taken from a call made once.
const std::vector<std::string>& SaleTexts() {
  static const std::vector<std::string> texts = [] {
    Prefix();
    std::vector<std::string> sent;
    retalo::CAdoConnection::Options options;
    options.make_backend = [&sent](retalo::BackendKind) -> std::unique_ptr<retalo::SqlBackend> {
      return std::make_unique<RecordingBackend>(&sent);
    };
    std::string error;
    if (retalo::SaveSale(SaleText(), PaymentText(), 1, options) != retalo::kExportOk ||
        !fixture::LoadFixture(fixture::DefaultDir(), &error)) {
      std::fprintf(stderr, "db_bench: the recorded sale failed %s\n", error.c_str());
      std::exit(1);
    }
    // The databases are back as they were before the sale, so its texts can run again.
    return sent;
  }();
  return texts;
}

void BM_SaveSaleData(benchmark::State& state) {
  Prefix();
  for (auto _ : state) {
    if (retalo::SaveSale(SaleText(), PaymentText(), 1, {}) != retalo::kExportOk) {
      state.SkipWithError("SaveSaleData failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The connections of one sale: one without and one with a transaction.
void BM_SaveSaleDataConnect(benchmark::State& state) {
  Prefix();
  for (auto _ : state) {
    retalo::CAdoConnection db;
    if (!db.OpenConnection() || (db.Close(), !db.OpenWithTransaction()) || !db.Commit()) {
      state.SkipWithError(db.last_error().c_str());
      break;
    }
    db.End();
  }
}

// Translating every text of one sale (parse, check, SQLite statements), nothing run.
void BM_SaveSaleDataTranslate(benchmark::State& state) {
  const std::vector<std::string>& texts = SaleTexts();
  std::vector<std::string> utf8;
  for (const std::string& text : texts) utf8.push_back(platform::Cp949ToUtf8(text).value());
  sqlite3* db = nullptr;
  std::string error;
  sqlite3_open(":memory:", &db);
  for (const char* name : retalo::kPharmacyDatabases) {
    const std::string file = (fixture::DefaultDir() / (std::string(name) + ".db")).string();
    char* attach = sqlite3_mprintf("ATTACH DATABASE %Q AS %s", file.c_str(), name);
    sqlite3_exec(db, attach, nullptr, nullptr, nullptr);
    sqlite3_free(attach);
  }
  if (!tsql::RegisterFunctions(db, &error)) state.SkipWithError(error.c_str());
  for (auto _ : state) {
    for (const std::string& text : utf8) {
      if (tsql::CompileOnly(db, text, &error) < 0) {
        state.SkipWithError(error.c_str());
        break;
      }
    }
  }
  state.counters["texts"] = static_cast<double>(utf8.size());
  sqlite3_close(db);
}

// The texts of one sale run on one open connection, in a transaction that is rolled back.
void BM_SaveSaleDataStatements(benchmark::State& state) {
  const std::vector<std::string>& texts = SaleTexts();
  retalo::SqliteBackend backend;
  retalo::ConnectionSettings settings;
  settings.sqlite_dir = fixture::DefaultDir();
  std::string error;
  if (!backend.Open(settings, &error)) state.SkipWithError(error.c_str());
  for (auto _ : state) {
    backend.Begin(&error);
    for (const std::string& text : texts) {
      retalo::SqlOutcome out;
      if (!backend.Execute(text, &out, &error)) {
        state.SkipWithError(error.c_str());
        break;
      }
    }
    backend.Rollback(&error);
  }
  backend.Close();
}

// One page written and synced in the databases' folder: the unit a sale's commits are made of.
// In rollback-journal mode every file a transaction writes costs its journal two syncs and
// itself one, a new journal a sync of the folder, and a transaction over several files a
// super-journal with its own syncs; the sales per second above cannot exceed one over this
// time multiplied by the syncs a sale takes (strace -c -e trace=fdatasync counts them).
void BM_SyncedPageWrite(benchmark::State& state) {
  const std::string path = (Prefix() / "synced_page_probe").string();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    state.SkipWithError("the probe file cannot be created");
    return;
  }
  constexpr size_t kPage = 4096;
  constexpr int kPages = 16;
  const std::string page(kPage, 'p');
  int next = 0;
  for (auto _ : state) {
    const off_t at = static_cast<off_t>(next++ % kPages) * static_cast<off_t>(kPage);
    if (pwrite(fd, page.data(), kPage, at) != static_cast<ssize_t>(kPage) || fdatasync(fd) != 0) {
      state.SkipWithError("the probe write or sync failed");
      break;
    }
  }
  close(fd);
  unlink(path.c_str());
}

BENCHMARK(BM_SaveSaleData)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveSaleDataConnect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSaleDataTranslate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSaleDataStatements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncedPageWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

#include "stores/local_stores.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/clock.h"
#include "platform/prefix.h"
#include "protocol/barcode_file.h"
#include "protocol/helvar_request.h"
#include "stores/cpp_sqlite3.h"

namespace stores {
namespace {

// ---- The SQL texts of the local stores ----

constexpr char kCreateTempTable[] =
    "CREATE TABLE  IF NOT EXISTS  RETALO_DB_TEMP( \t\t\t\t\tid INTEGER PRIMARY KEY "
    "AUTOINCREMENT, \t\t\t\t\tSELMODE INTAGER , \t\t\t\t\tINDATE    CHAR   (10), "
    "\t\t\t\t\tINDEXCODE CHAR   (1024), \t\t\t\t\t DATA     CHAR\t (1024))";
constexpr char kCreateUndeliveredTable[] =
    "CREATE TABLE  IF NOT EXISTS  RETALO_812( \t\t\t\t\t\tSEQ INTEGER PRIMARY KEY "
    "AUTOINCREMENT, \t\t\t\t\t\tDATA    blob)";
constexpr char kCreateBarcodeTable[] =
    "CREATE TABLE  IF NOT EXISTS  TAVENOR_DB( \t\t\t\t\tBARCODE\t  CHAR(30) PRIMARY "
    "KEY,\t\t\t\t\tBUHO\t\t  CHAR(1),         \t\t\t\t\tSPRICE      INTEGER,           "
    "\t\t\t\t\tPPRICE      INTEGER,           \t\t\t\t\tTOTNUMBER\tINTEGER,           "
    "\t\t\t\t\tITEMNAME    CHAR(20),          \t\t\t\t\tPHARMNAME\tCHAR(20));";
// The texts go between single quotes: "%q" doubles every quote inside them, so a text with a
// quote is stored intact instead of breaking (or extending) the statement.
constexpr char kInsertRequest[] = "insert into RETALO_DB_TEMP values (null, %d ,'%q','%q','%q')";
constexpr char kSelectRequests[] = "select * from retalo_db_temp";
constexpr char kDeleteRequest[] = "delete from RETALO_DB_TEMP where id = %d;";
constexpr char kDropTempTable[] = "drop table if exists retalo_db_temp";
constexpr char kDropBarcodeTable[] = "drop table if exists TAVENOR_DB";
constexpr char kBeginTransaction[] = "begin transaction;";
constexpr char kCommitTransaction[] = "commit transaction;";
constexpr char kInsertUndelivered[] = "insert into RETALO_812 values (null,%Q);";
constexpr char kSelectUndelivered[] = "select SEQ, DATA from RETALO_812 order by SEQ";
constexpr char kDeleteUndelivered[] = "delete from RETALO_812 where SEQ = %lld;";

constexpr char kUndeliveredTable[] = "RETALO_812";
constexpr char kRequestTable[] = "RETALO_DB_TEMP";

// ---- The barcode database files: one per terminal ----

constexpr int kFirstBarcodeRequest = protocol::kHelvarBuildBarcodeDb;
constexpr int kLastBarcodeRequest =
    protocol::kHelvarBuildBarcodeDb + protocol::kHelvarTerminals - 1;

std::optional<std::filesystem::path> LocalFile(std::string_view windows_path) {
  return platform::MapPath(windows_path);
}

bool FileExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// Creates "c:\tavenor" when it is missing; false when it cannot be made.
bool EnsureTavenorDir() {
  const auto dir = LocalFile(protocol::kTavenorDir);
  if (!dir) return false;
  std::error_code error;
  std::filesystem::create_directories(*dir, error);
  return std::filesystem::is_directory(*dir, error);
}

// The file of a store in "c:\tavenor", the directory made first.
std::optional<std::filesystem::path> StoreFileInNewDir(std::string_view windows_path) {
  if (!EnsureTavenorDir()) return std::nullopt;
  return LocalFile(windows_path);
}

CppSQLite3DB OpenStore(const std::filesystem::path& file) {
  CppSQLite3DB db;
  db.OpenFile(file.string());
  return db;
}

std::string TodayText() { return platform::SystemClock().LocalDate(); }

bool HoldsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

int StoreRequest(int code, std::string_view data, std::string_view auxiliary) {
  // A NUL would cut the text short in the statement: refuse rather than store part of it.
  if (HoldsNul(data) || HoldsNul(auxiliary)) return 0;
  const auto file = StoreFileInNewDir(kTempStorePath);
  if (!file) return 0;
  try {
    CppSQLite3DB db = OpenStore(*file);
    db.ExecuteChange(kCreateTempTable);
    db.ExecuteChange(CppSQLite3Format(kInsertRequest, code, TodayText().c_str(),
                                      std::string(data).c_str(), std::string(auxiliary).c_str()));
    return 1;
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

int ReadFirstStoredRequest(StoredRequest* out, int* pending_count) {
  if (out == nullptr) return 0;
  const auto file = LocalFile(kTempStorePath);
  if (!file) return 0;
  if (!FileExists(*file)) {
    if (pending_count != nullptr) *pending_count = 0;
    return 0;
  }
  try {
    CppSQLite3DB db = OpenStore(*file);
    db.ExecuteChange(kCreateTempTable);
    db.ExecuteChange(kCreateUndeliveredTable);
    CppSQLite3Table table = db.LoadTable(kSelectRequests);
    if (pending_count != nullptr) *pending_count = table.RowCount();
    if (table.RowCount() < 1) return 0;
    table.SelectRow(0);
    StoredRequest request;
    request.id = table.CellInt(0);
    request.code = table.CellInt(1);
    request.data = table.CellText(3);
    *out = std::move(request);
    return 1;
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

int DeleteStoredRequest(int id) {
  const auto file = LocalFile(kTempStorePath);
  if (!file || !FileExists(*file)) return 0;
  try {
    CppSQLite3DB db = OpenStore(*file);
    db.ExecuteChange(CppSQLite3Format(kDeleteRequest, id));
    if (db.LoadTable(kSelectRequests).RowCount() < 1) db.ExecuteChange(kDropTempTable);
    return 1;
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

int BuildBarcodeDatabase(int request_code, uint64_t* file_size) {
  if (file_size == nullptr) return 0;
  if (request_code < kFirstBarcodeRequest || request_code > kLastBarcodeRequest) return 0;
  const auto file = StoreFileInNewDir(protocol::BarcodeDatabaseName(request_code));
  if (!file) return 0;
  try {
    CppSQLite3DB db = OpenStore(*file);
    db.ExecuteChange(kDropBarcodeTable);
    db.ExecuteChange(kCreateBarcodeTable);
    db.ExecuteChange(kBeginTransaction);
    db.ExecuteChange(kCommitTransaction);
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
  std::error_code error;
  const uint64_t size = std::filesystem::file_size(*file, error);
  if (error) return 0;
  *file_size = size;
  return 1;
}

int StoreUndeliveredFrame(std::string_view frame) {
  const auto file = StoreFileInNewDir(kTempStorePath);
  if (!file) return 0;
  try {
    CppSQLite3DB db = OpenStore(*file);
    db.ExecuteChange(kCreateUndeliveredTable);
    CppSQLite3BlobBuffer blob;
    blob.Encode(reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
    db.ExecuteChange(CppSQLite3Format(kInsertUndelivered, blob.Encoded()));
    return 1;
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

std::vector<KeptFrame> ReadUndeliveredFramesWithIds() {
  const auto file = LocalFile(kTempStorePath);
  if (!file || !FileExists(*file)) return {};
  try {
    CppSQLite3DB db = OpenStore(*file);
    if (!db.TableExists(kUndeliveredTable)) return {};
    std::vector<KeptFrame> frames;
    CppSQLite3BlobBuffer blob;
    for (CppSQLite3Query rows = db.ExecuteQuery(kSelectUndelivered); !rows.Eof(); rows.NextRow()) {
      blob.SetEncoded(rows.FieldText(1));
      size_t length = 0;
      const unsigned char* bytes = nullptr;
      try {
        bytes = blob.Binary(&length);
      } catch (const CppSQLite3Exception&) {
        continue;  // not an encoding: skipped, left in the table
      }
      frames.push_back(
          {rows.FieldInt(0), std::string(reinterpret_cast<const char*>(bytes), length)});
    }
    return frames;
  } catch (const CppSQLite3Exception&) {
    return {};
  }
}

std::vector<std::string> ReadUndeliveredFrames() {
  std::vector<std::string> frames;
  for (KeptFrame& kept : ReadUndeliveredFramesWithIds()) frames.push_back(std::move(kept.bytes));
  return frames;
}

int DeleteUndeliveredFrame(int64_t seq) {
  const auto file = LocalFile(kTempStorePath);
  if (!file || !FileExists(*file)) return 0;
  try {
    CppSQLite3DB db = OpenStore(*file);
    if (!db.TableExists(kUndeliveredTable)) return 1;
    db.ExecuteChange(CppSQLite3Format(kDeleteUndelivered, static_cast<long long>(seq)));
    return 1;
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

std::optional<KeptWorkCounts> CountKeptWork() {
  const auto file = LocalFile(kTempStorePath);
  if (!file) return std::nullopt;
  KeptWorkCounts counts;
  if (!FileExists(*file)) return counts;
  try {
    CppSQLite3DB db;
    db.OpenFileReadOnly(file->string());
    const auto count = [&db](const char* table) -> int64_t {
      if (!db.TableExists(table)) return 0;
      CppSQLite3Query rows = db.ExecuteQuery(std::string("select count(*) from ") + table);
      return rows.Eof() ? 0 : rows.FieldInt(0);
    };
    counts.requests = count(kRequestTable);
    counts.frames = count(kUndeliveredTable);
  } catch (const CppSQLite3Exception&) {
    return std::nullopt;
  }
  return counts;
}

}  // namespace stores

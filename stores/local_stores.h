// The local SQLite files in "c:\tavenor" (mapped under the prefix), used by Helvar and the hub:
//
// - the temporary store "c:\tavenor\RetaloTemp.db": table RETALO_DB_TEMP holds requests that
//   could not be recorded in the pharmacy database and wait for their retry; the hub keeps its
//   undelivered cancellation frames in table RETALO_812 of the same file;
// - the barcode database files "c:\tavenor\BarcodeDB<code>.db" that Helvar builds on the
//   terminal's request (700 + terminal index) and the hub sends to the terminal in chunks.
//
// Every operation opens its file, does its work and closes it again (busy time-out 60,000 ms),
// so Helvar and the hub may use the temporary store at the same time. Failures are returned as
// 0 (or an empty result); nothing here logs or throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stores {

inline constexpr char kTempStorePath[] = "c:\\tavenor\\RetaloTemp.db";

struct StoredRequest {
  int id = 0;
  int code = 0;
  std::string data;
};

// Stores a request for retry: its code, its data and its auxiliary text, with today's date.
// Creates the directory, the file and the table when missing. Texts are kept byte for byte,
// quotes included; a text holding a NUL byte cannot be stored and is refused. 1 stored,
// 0 failed.
int StoreRequest(int code, std::string_view data, std::string_view auxiliary);

// Reads the oldest stored request into *out: 1 when there is one; 0 when the store file is
// missing or holds none, or cannot be read. *pending_count (when given) becomes the number of
// stored requests, 0 for a missing file; it is left as it was when the store cannot be read
// (a file locked beyond the time-out), so that a waiting retry is not forgotten.
int ReadFirstStoredRequest(StoredRequest* out, int* pending_count);

// Deletes a stored request; the table is dropped when it becomes empty. 1 done, 0 failed.
int DeleteStoredRequest(int id);

// Builds the barcode database file of request code 700, 701 or 702 afresh (an empty TAVENOR_DB
// table, named by protocol::BarcodeDatabaseName) and puts its size in bytes in *file_size.
// 1 built; 0 when the code is another or the file cannot be built.
int BuildBarcodeDatabase(int request_code, uint64_t* file_size);

// The hub's store-and-forward table: keeps one undelivered frame (all its bytes, binary
// included) as a new RETALO_812 row. Creates the directory, the file and the table when
// missing. 1 stored, 0 failed.
int StoreUndeliveredFrame(std::string_view frame);

// The frames kept in RETALO_812, oldest first, decoded. Empty when the file or the table is
// missing or cannot be read; a row that is not a valid encoding is skipped.
std::vector<std::string> ReadUndeliveredFrames();

// A kept frame with its row: SEQ, assigned by SQLite in the order the frames were kept.
struct KeptFrame {
  int64_t seq = 0;
  std::string bytes;
};

// The same frames with their rows, oldest first (the replay deletes each by its SEQ once the
// server took it). Empty when the file or the table is missing or cannot be read.
std::vector<KeptFrame> ReadUndeliveredFramesWithIds();

// Deletes the kept frame of row `seq`. 1 done (also when the row was already gone), 0 failed.
int DeleteUndeliveredFrame(int64_t seq);

// What waits in the temporary store: requests for retry (RETALO_DB_TEMP) and undelivered frames
// (RETALO_812). Read without writing anything, not even the rolling back of a write a crash
// left (a missing file or table counts 0). nullopt when the file is there but cannot be read.
struct KeptWorkCounts {
  int64_t requests = 0;
  int64_t frames = 0;
};
std::optional<KeptWorkCounts> CountKeptWork();

}  // namespace stores

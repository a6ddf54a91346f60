// SQLite 2's blob-to-text encoding, as CppSQLite3BlobBuffer (cpp_sqlite3.h) describes it.
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "stores/cpp_sqlite3.h"

namespace {

constexpr char kCannotAllocate[] = "Cannot allocate memory";
constexpr char kCannotDecode[] = "Cannot decode binary";
constexpr char kNullBlob[] = "Null blob pointer";

constexpr unsigned char kEscape = 0x01;
constexpr unsigned char kQuote = 0x27;
constexpr unsigned char kEmptyEncoding = 'x';
// The second byte of the escape pair for each of the three values that cannot stand in the
// text, and the form SQLite 2's own encoder writes for the quote.
constexpr unsigned char kEscapedZero = 0x01;
constexpr unsigned char kEscapedEscape = 0x02;
constexpr unsigned char kEscapedQuote = 0x03;
constexpr unsigned char kEscapedQuoteSqlite2 = kQuote + 1;

// The largest blob that can be encoded: SQLite holds no longer text anyway.
constexpr size_t kMaxBlobBytes = 1'000'000'000;

std::unique_ptr<unsigned char[]> Allocate(size_t n) {
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[n]);
  if (buffer == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  return buffer;
}

// The offset that needs the fewest escapes: the first value from 1 to 255, the quote left out,
// for which the fewest bytes come out as 0x00, 0x01 or the quote. Some value always needs fewer
// escapes than there are bytes (each byte counts against three of the 254 candidates).
unsigned char ChooseOffset(const unsigned char* data, size_t n) {
  std::array<size_t, 256> count{};
  for (size_t i = 0; i < n; ++i) ++count[data[i]];
  size_t fewest = n;
  unsigned char offset = 1;
  for (unsigned value = 1; value < 256; ++value) {
    if (value == kQuote) continue;
    const size_t escapes =
        count[value] + count[(value + 1) & 0xFF] + count[(value + kQuote) & 0xFF];
    if (escapes < fewest) {
      fewest = escapes;
      offset = static_cast<unsigned char>(value);
      if (fewest == 0) break;
    }
  }
  return offset;
}

}  // namespace

CppSQLite3BlobBuffer::CppSQLite3BlobBuffer(CppSQLite3BlobBuffer&& other) noexcept
    : buffer_(std::move(other.buffer_)),
      blob_length_(std::exchange(other.blob_length_, 0)),
      encoded_length_(std::exchange(other.encoded_length_, 0)),
      encoded_(std::exchange(other.encoded_, false)) {}

CppSQLite3BlobBuffer& CppSQLite3BlobBuffer::operator=(CppSQLite3BlobBuffer&& other) noexcept {
  if (this != &other) {
    buffer_ = std::move(other.buffer_);
    blob_length_ = std::exchange(other.blob_length_, 0);
    encoded_length_ = std::exchange(other.encoded_length_, 0);
    encoded_ = std::exchange(other.encoded_, false);
  }
  return *this;
}

CppSQLite3BlobBuffer::~CppSQLite3BlobBuffer() = default;

void CppSQLite3BlobBuffer::Clear() {
  buffer_.reset();
  blob_length_ = 0;
  encoded_length_ = 0;
  encoded_ = false;
}

void CppSQLite3BlobBuffer::Reserve(size_t n) {
  Clear();
  if (n > kMaxBlobBytes) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  // At most three escapes per 254 bytes, plus the offset byte and the NUL.
  const size_t room = n * 257 / 254 + 3;
  buffer_ = Allocate(room);
  buffer_[0] = 0;  // an empty text until something is encoded into it
  blob_length_ = n;
  encoded_length_ = room;
  encoded_ = true;
}

void CppSQLite3BlobBuffer::Encode(const unsigned char* data, size_t n) {
  if (data == nullptr && n > 0) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullBlob);
  Reserve(n);
  unsigned char* out = buffer_.get();
  if (n == 0) {
    out[0] = kEmptyEncoding;
    out[1] = 0;
    return;
  }
  const unsigned char offset = ChooseOffset(data, n);
  size_t j = 0;
  out[j++] = offset;
  for (size_t i = 0; i < n; ++i) {
    const auto shifted = static_cast<unsigned char>(data[i] - offset);
    if (shifted == 0x00) {
      out[j++] = kEscape;
      out[j++] = kEscapedZero;
    } else if (shifted == kEscape) {
      out[j++] = kEscape;
      out[j++] = kEscapedEscape;
    } else if (shifted == kQuote) {
      out[j++] = kEscape;
      out[j++] = kEscapedQuote;
    } else {
      out[j++] = shifted;
    }
  }
  out[j] = 0;
}

const char* CppSQLite3BlobBuffer::Encoded() const {
  if (!encoded_ || buffer_ == nullptr) return "";
  return reinterpret_cast<const char*>(buffer_.get());
}

void CppSQLite3BlobBuffer::SetEncoded(const char* text) {
  Clear();
  const size_t length = text == nullptr ? 0 : std::strlen(text);
  buffer_ = Allocate(length + 1);
  if (length > 0) std::memcpy(buffer_.get(), text, length);
  buffer_[length] = 0;
  encoded_length_ = length + 1;
  encoded_ = true;
}

const unsigned char* CppSQLite3BlobBuffer::Binary(size_t* length) {
  if (buffer_ == nullptr) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotDecode);
  if (encoded_) {
    const unsigned char* in = buffer_.get();
    if (in[0] == 0) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotDecode);
    const unsigned char offset = *in++;
    // Decoded into a fresh buffer, so a bad text leaves this one as it was.
    auto out = Allocate(encoded_length_);
    size_t n = 0;
    for (unsigned char c = *in++; c != 0; c = *in++) {
      if (c == kEscape) {
        switch (*in++) {
          case kEscapedZero:
            c = 0x00;
            break;
          case kEscapedEscape:
            c = kEscape;
            break;
          case kEscapedQuote:
          case kEscapedQuoteSqlite2:
            c = kQuote;
            break;
          default:  // a NUL here ends the text inside an escape pair
            throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotDecode);
        }
      }
      out[n++] = static_cast<unsigned char>(c + offset);
    }
    buffer_ = std::move(out);
    blob_length_ = n;
    encoded_ = false;
  }
  if (length != nullptr) *length = blob_length_;
  return buffer_.get();
}

// Splitting a received text into its fields, and cutting display text into printer lines.
#include <climits>

#include "companions/util/ordella_util.h"
#include "platform/text.h"

namespace {

constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
// The lowest byte that may follow a CP949 lead byte.
constexpr unsigned char kLowestTrailByte = 0x41;

// Bytes of the character that starts at `text`: 2 for a CP949 lead byte with its trail byte.
int CharacterSize(const unsigned char* text) {
  return platform::IsCp949LeadByte(text[0]) && text[1] >= kLowestTrailByte ? 2 : 1;
}

// Bytes of a line end (LF or CR LF) at `text`; 0 when none starts there.
int LineEndSize(const char* text) {
  if (text[0] == kLineFeed) return 1;
  if (text[0] == kCarriageReturn && text[1] == kLineFeed) return 2;
  return 0;
}

}  // namespace

extern "C" int UtilSplitFieldsN(char* text, char** fields, int max_fields, char separator) {
  if (text == nullptr || fields == nullptr || max_fields <= 0) return 0;
  int count = 0;
  fields[count++] = text;
  for (char* p = text; *p != '\0' && count < max_fields; ++p) {
    if (*p == separator) {
      *p = '\0';
      fields[count++] = p + 1;
    }
  }
  return count;
}

extern "C" int UtilSplitFields(char* text, char** fields, char separator) {
  return UtilSplitFieldsN(text, fields, INT_MAX, separator);
}

extern "C" int UtilNextLine(int width, const char* source, char* out) {
  if (out != nullptr) out[0] = '\0';
  if (width < 2 || source == nullptr || out == nullptr || source[0] == '\0') return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
  int taken = 0;
  while (source[taken] != '\0') {
    if (const int end = LineEndSize(source + taken); end > 0) {
      out[taken] = '\0';
      return taken + end;
    }
    const int size = CharacterSize(bytes + taken);
    if (taken + size > width) break;
    for (int i = 0; i < size; ++i) out[taken + i] = source[taken + i];
    taken += size;
  }
  out[taken] = '\0';
  // A line that filled its width exactly takes its own line end along, so that it is not
  // followed by an empty line.
  return taken + LineEndSize(source + taken);
}

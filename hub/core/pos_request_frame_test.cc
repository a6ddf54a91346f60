#include "hub/core/pos_request_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace hub {
namespace {

using std::string_literals::operator""s;

// A POS client's payment request whose length field reads `length`, `size` bytes long in all.
std::string Request(char cipher_flag, const char* length, size_t size) {
  std::string frame = "\x02"s + cipher_flag + "X" + length + "TRM051\x1c";
  frame.resize(size, 'a');
  return frame;
}

std::string SignatureFrame(const char* tag, const char* length, size_t payload) {
  return "\x02"s + tag + length + std::string(payload, '\x0a');
}

TEST(PosRequestFrameTest, DecidesWhenTheBytesMakeAWholeRequest) {
  struct Case {
    const char* what;
    std::string held;
    PosRequestStatus status;
  };
  using enum PosRequestStatus;
  const Case cases[] = {
      {"nothing yet", "", kNeedMore},
      {"no marker", "BUSY", kNotARequest},
      {"no marker in a whole head", "\x02XX0025ABC051\x1c", kNotARequest},
      {"opening of a frame", "\x02XX00", kNeedMore},
      {"length field still missing", "\x02XXTRM", kNeedMore},
      {"one byte short", Request('X', "0025", 24), kNeedMore},
      {"exactly the length", Request('X', "0025", 25), kGatewayFrame},
      {"more than the length", Request('X', "0025", 40), kGatewayFrame},
      {"enciphered, 109 bytes", Request('S', "0100", 109), kNeedMore},
      {"enciphered, 110 bytes", Request('S', "0100", 110), kGatewayFrame},
      {"cash receipt marker",
       "\x02XX0020PMC161\x1c"
       "123456",
       kGatewayFrame},
      {"length field not digits", "\x02XX0x25TRM051", kNotARequest},
      {"signature, one byte short", SignatureFrame("BMPP15", "000120", 119), kNeedMore},
      {"signature, length + 13", SignatureFrame("BMPP15", "000120", 120), kSignatureImage},
      {"signature with ETX", SignatureFrame("BMPP15", "000120", 121), kSignatureImage},
      {"compressed signature", SignatureFrame("CBMP15", "000002", 2), kSignatureImage},
      {"signature whose payload holds TRM",
       "\x02"
       "BMPP15000005xTRMx",
       kSignatureImage},
      {"signature head incomplete",
       "\x02"
       "BMPP1500",
       kNeedMore},
      {"signature length not digits", SignatureFrame("BMPP15", "0001x0", 200), kNotARequest},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExaminePosBytes(c.held), c.status) << c.what;
  }
}

}  // namespace
}  // namespace hub

#include "platform/tagged_message.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"
#include "platform/testing/support.h"

namespace platform {
namespace {

bool KnownKind(char kind) { return kind == 'A' || kind == 'B'; }
constexpr TaggedMessageFormat kFormat{"XY", 4, 20, KnownKind};

TEST(TaggedMessage, RoundTripsAndRefusesHeadersOfAnotherForm) {
  EXPECT_EQ(EncodeTaggedMessage(kFormat, 'A', "hello"), "XYA0005hello");
  EXPECT_EQ(EncodeTaggedMessage(kFormat, 'B', ""), "XYB0000");
  EXPECT_FALSE(EncodeTaggedMessage(kFormat, 'A', std::string(21, 'x')));

  struct Case {
    std::string bytes;
    StatusCode code;
  };
  const Case cases[] = {
      {"XYA0005hello", StatusCode::kOk},
      {"XZA0005hello", StatusCode::kIoError},                    // another magic
      {"XYC0005hello", StatusCode::kIoError},                    // a kind outside the set
      {"XYA00x5hello", StatusCode::kIoError},                    // not digits
      {"XYA0021" + std::string(21, 'x'), StatusCode::kIoError},  // above the limit
      {"XYA0009hello", StatusCode::kClosed},                     // the payload ends early
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    auto [ours, theirs] = testing::SocketPair();
    ASSERT_TRUE(SendAll(theirs.get(), c.bytes, Deadline::After(1000)).ok());
    theirs.reset();
    char kind = 0;
    std::string payload;
    const Status status =
        ReceiveTaggedMessage(ours.get(), kFormat, Deadline::After(10000), &kind, &payload);
    EXPECT_EQ(status.code(), c.code);
    if (c.code == StatusCode::kOk) {
      EXPECT_EQ(kind, 'A');
      EXPECT_EQ(payload, "hello");
    }
  }
  EXPECT_EQ(DecimalDigitsAt("ab0123", 2, 4), 123u);
  EXPECT_FALSE(DecimalDigitsAt("ab012", 2, 4));
  EXPECT_FALSE(DecimalDigitsAt("ab", 3, 0));
}

}  // namespace
}  // namespace platform

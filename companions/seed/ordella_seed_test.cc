#include "companions/seed/ordella_seed.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "companions/seed/seed_cipher.h"
#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"

namespace {

constexpr char kPlainFrame[] =
    "\x02XX0025TRM820\x1c\x1c\x1c"
    "20240101\x03\x25";
constexpr std::string_view kPlainBody =
    "820\x1c\x1c\x1c"
    "20240101";

// A frame the way the hub holds it: a buffer with room, and the count of the bytes in it.
struct HeldFrame {
  std::vector<unsigned char> bytes;
  int count = 0;

  explicit HeldFrame(const std::string& frame) : bytes(frame.begin(), frame.end()) {
    count = static_cast<int>(bytes.size());
  }
  std::string Text() const { return std::string(bytes.begin(), bytes.begin() + count); }
  int Decipher(int mode = 0, int tail = 1) {
    return Ordella_Crypt(bytes.data() + seed::kBodyOffset, &count, mode, tail);
  }
};

class OrdellaCryptTest : public ::testing::Test {
 protected:
  std::string Enciphered() {
    return seed::EncipherFrame(kPlainFrame, seed::ConfiguredSeedKey().value(),
                               seed::CipherLengthField::kTerminal)
        .value();
  }

  platform::testing::TempPrefix prefix_;
};

TEST_F(OrdellaCryptTest, DeciphersTheBodyInPlaceWithOrWithoutTheCheckByte) {
  for (int tail : {1, 0}) {
    SCOPED_TRACE(tail);
    std::string enciphered = Enciphered();
    if (tail == 0) enciphered.pop_back();
    HeldFrame frame(enciphered);
    ASSERT_EQ(frame.Decipher(0, tail), 1);

    const std::string expected_tail = tail == 1 ? std::string("\x03\0", 2) : "\x03";
    EXPECT_EQ(frame.count,
              static_cast<int>(seed::kBodyOffset + kPlainBody.size() + expected_tail.size()));
    // The head is the caller's: untouched, still saying "S" and the enciphered length.
    EXPECT_EQ(frame.Text(),
              enciphered.substr(0, seed::kBodyOffset) + std::string(kPlainBody) + expected_tail);
    // Nothing of the enciphered bytes stays behind the new end.
    for (size_t i = static_cast<size_t>(frame.count); i < frame.bytes.size(); ++i) {
      EXPECT_EQ(frame.bytes[i], 0) << i;
    }
  }
}

TEST_F(OrdellaCryptTest, UsesTheConfiguredKey) {
  ASSERT_EQ(platform::RegSetString(seed::kSeedKeyRegistryKey, seed::kSeedKeyValueName,
                                   "28DBC3BC49FFD87DCFA509B11D422BE7"),
            platform::RegStatus::kOk);
  HeldFrame frame(Enciphered());
  ASSERT_EQ(frame.Decipher(), 1);
  EXPECT_EQ(frame.Text().substr(seed::kBodyOffset, kPlainBody.size()), kPlainBody);
}

TEST_F(OrdellaCryptTest, LeavesFramesItCannotDecipherUnchanged) {
  // A fixed IV keeps every outcome below the same from run to run.
  const std::string good =
      "\x02SX0043TRM" +
      seed::EncipherBody(kPlainBody, seed::ConfiguredSeedKey().value(), seed::SeedIv{}).value() +
      "\x03\x7f";
  // The IV's last byte flips the same bit of the padding byte (4): the padding no longer checks.
  std::string damaged = good;
  damaged[seed::kBodyOffset + seed::kBlockSize - 1] ^= 0x40;
  struct Case {
    const char* what;
    std::string frame;
    int count_change;
    int mode;
    int tail;
  };
  const Case cases[] = {
      {"enciphering asked for", good, 0, 1, 1},
      {"unknown tail", good, 0, 0, 2},
      {"count one short", good, -1, 0, 1},
      {"count says no check byte", good, 0, 0, 0},
      {"no ETX where the count ends", good + std::string(16, 'A'), 0, 0, 1},
      {"plain frame", kPlainFrame, 0, 0, 1},
      {"damaged padding", damaged, 0, 0, 1},
      {"negative count", good, -1000, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldFrame frame(c.frame);
    frame.count += c.count_change;
    const HeldFrame before = frame;
    EXPECT_EQ(frame.Decipher(c.mode, c.tail), 0);
    EXPECT_EQ(frame.bytes, before.bytes);
    EXPECT_EQ(frame.count, before.count);
  }

  HeldFrame frame(good);
  EXPECT_EQ(Ordella_Crypt(nullptr, &frame.count, 0, 1), 0);
  EXPECT_EQ(Ordella_Crypt(frame.bytes.data() + seed::kBodyOffset, nullptr, 0, 1), 0);

  // Another key, or a malformed one, in the registry: nothing is deciphered.
  for (const char* key : {"000102030405060708090A0B0C0D0E0F", "not a key"}) {
    SCOPED_TRACE(key);
    ASSERT_EQ(platform::RegSetString(seed::kSeedKeyRegistryKey, seed::kSeedKeyValueName, key),
              platform::RegStatus::kOk);
    HeldFrame keyed(good);
    EXPECT_EQ(keyed.Decipher(), 0);
    EXPECT_EQ(keyed.Text(), good);
  }
}

}  // namespace

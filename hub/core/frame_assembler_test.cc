#include "hub/core/frame_assembler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/temp_prefix.h"

namespace hub {

using namespace protocol;

namespace {

using std::string_literals::operator""s;

// A frame as a terminal sends it: flags, normal length field, "TRM", body, ETX, check byte.
// The check byte's value is not looked at by the receiver.
std::string TerminalFrame(std::string_view flags, std::string_view body) {
  std::string frame = "\x02"s + std::string(flags);
  const std::string length = std::to_string(body.size() + kFrameOverhead);
  frame += std::string(4 - length.size(), '0') + length + "TRM" + std::string(body) + "\x03";
  return frame + "!";
}

struct Collected {
  std::vector<std::string> frames;
  std::string other_bytes;
};

// Feeds `stream` in reads of `piece` bytes and gathers what every read gave back.
Collected FeedInReads(FrameAssembler* assembler, std::string_view stream, size_t piece) {
  Collected all;
  FrameAssembler::Output out;
  for (size_t at = 0; at < stream.size(); at += piece) {
    assembler->Feed(stream.substr(at, piece), &out);
    all.frames.insert(all.frames.end(), out.frames.begin(), out.frames.end());
    all.other_bytes += out.other_bytes;
  }
  return all;
}

Collected FeedAll(std::string_view stream) {
  FrameAssembler assembler;
  return FeedInReads(&assembler, stream, stream.size());
}

TEST(FrameAssemblerTest, AcceptsOnlyTheFlagPairsOfAGatewayFrame) {
  const std::string next = TerminalFrame("XX", "830");
  struct Case {
    const char* flags;
    bool accepted;
  };
  const Case cases[] = {
      {"XX", true},  {"X7", true},  {"X0", true},  {"SX", true},  {"SA", false},
      {"XS", false}, {"AX", false}, {"XC", false}, {"S7", false}, {"\x03X", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const std::string frame = TerminalFrame(c.flags,
                                            "820\x1c\x1c"
                                            "20240101");
    const Collected got = FeedAll(frame + next);
    if (c.accepted) {
      EXPECT_EQ(got.frames, (std::vector<std::string>{frame, next}));
      EXPECT_EQ(got.other_bytes, "");
    } else {
      // The refused head and everything up to the next STX is not gateway traffic.
      EXPECT_EQ(got.frames, std::vector<std::string>{next});
      EXPECT_EQ(got.other_bytes, frame);
    }
  }
}

TEST(FrameAssemblerTest, CompletesWhenItHoldsMoreBytesThanTheLengthField) {
  const std::string frame =
      "\x02XX0025TRM812\x1c"
      "0000\x1c"
      "12345\x03?";
  ASSERT_EQ(frame.size(), 26u);
  FrameAssembler assembler;
  FrameAssembler::Output out;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    assembler.Feed(frame.substr(i, 1), &out);
    EXPECT_TRUE(out.frames.empty()) << i;
    EXPECT_EQ(out.other_bytes, "") << i;
  }
  EXPECT_TRUE(assembler.receiving());
  assembler.Feed(frame.substr(25), &out);
  EXPECT_EQ(out.frames, std::vector<std::string>{frame});
  EXPECT_FALSE(assembler.receiving());
}

TEST(FrameAssemblerTest, GivesTheSameFramesWhateverTheReadSizes) {
  // An enciphered body holds any byte, STX included.
  const std::string enciphered = TerminalFrame("SX", "\x8f\x02\x1c\x03\x00\x02zz"s);
  const std::string packed = TerminalFrame("X6", "\x78\x9c\x02\x02\x01"s);
  const std::string plain = TerminalFrame("XX",
                                          "838\x1c"
                                          "8801234567890");
  const std::string stream =
      "\x10van\x01" + plain + "\x15" + enciphered + "\x02SA junk" + packed + plain + "tail";
  const std::vector<std::string> frames = {plain, enciphered, packed, plain};
  const std::string other = "\x10van\x01\x15\x02SA junktail";
  for (size_t piece : {1u, 2u, 3u, 5u, 13u, 27u, 4096u}) {
    SCOPED_TRACE(piece);
    FrameAssembler assembler;
    const Collected got = FeedInReads(&assembler, stream, piece);
    EXPECT_EQ(got.frames, frames);
    EXPECT_EQ(got.other_bytes, other);
  }
}

TEST(FrameAssemblerTest, AFrameThatStopsShortGivesWayToTheNextStx) {
  const std::string good = TerminalFrame("XX", "820");
  const std::string broken = TerminalFrame("XX",
                                           "838\x1c"
                                           "8801234567890")
                                 .substr(0, 20);
  FrameAssembler assembler;
  FrameAssembler::Output out;
  assembler.Feed(broken, &out);
  EXPECT_TRUE(assembler.receiving());
  EXPECT_TRUE(out.frames.empty());
  EXPECT_EQ(out.other_bytes, "");
  assembler.Feed(good, &out);
  EXPECT_EQ(out.frames, std::vector<std::string>{good});
  EXPECT_EQ(out.other_bytes, "");

  // In a binary frame an STX inside the head still restarts; inside the body it is data.
  const std::string enciphered = TerminalFrame("SX", "\x02\x02\x02\x02\x02\x02");
  EXPECT_EQ(FeedAll("\x02SX00" + good).frames, std::vector<std::string>{good});
  // ... so a binary frame that stops short is bounded by its length field, not by the next STX.
  const Collected cut = FeedAll(enciphered.substr(0, 14) + good);
  EXPECT_EQ(cut.frames, std::vector<std::string>{enciphered.substr(0, 14) + good.substr(0, 4)});
  EXPECT_EQ(cut.other_bytes, good.substr(4));
  EXPECT_EQ(FeedAll(enciphered + good).frames, (std::vector<std::string>{enciphered, good}));
}

TEST(FrameAssemblerTest, HoldsBackAnStxUntilItsFlagsDecide) {
  FrameAssembler assembler;
  FrameAssembler::Output out;
  struct Step {
    std::string read;
    std::string other_bytes;
    std::vector<std::string> frames;
  };
  const Step steps[] = {
      {"ab\x02", "ab", {}}, {"Q", "\x02Q", {}},
      {"cd\x02", "cd", {}}, {"\x02", "\x02", {}},  // a new STX: the undecided head was not a frame
      {"X", "", {}},        {"X0014TRM001\x03!", "", {"\x02XX0014TRM001\x03!"}},
  };
  for (const Step& step : steps) {
    assembler.Feed(step.read, &out);
    EXPECT_EQ(out.other_bytes, step.other_bytes) << step.read;
    EXPECT_EQ(out.frames, step.frames) << step.read;
  }
}

class FrameAssemblerLogTest : public ::testing::Test {
 protected:
  LogTarget Log() const { return {(prefix_.path() / "logs").string(), 1}; }

  std::string LogText() const {
    std::string text;
    const std::filesystem::path dir = prefix_.path() / "logs";
    if (!std::filesystem::exists(dir)) return text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << file.rdbuf();
      text += content.str();
    }
    return text;
  }

  platform::testing::TempPrefix prefix_;
};

TEST_F(FrameAssemblerLogTest, LogsCompletedFramesWithCardDataMasked) {
  FrameAssembler assembler(Log());
  FrameAssembler::Output out;
  const std::string frame = TerminalFrame("XX",
                                          "810\x1c"
                                          "1\x1c"
                                          "9410123456789012=2512101\x1c");
  assembler.Feed(frame, &out);
  ASSERT_EQ(out.frames, std::vector<std::string>{frame});  // the frame itself is untouched
  const std::string log = LogText();
  EXPECT_NE(log.find(kFrameEndLogTag), std::string::npos) << log;
  EXPECT_NE(log.find("941012******9012=*******"), std::string::npos) << log;
  EXPECT_EQ(log.find("9410123456789012"), std::string::npos) << log;
}

TEST_F(FrameAssemblerLogTest, DropsFramesItCannotHoldAndWhatFollowsThemUpToTheNextStx) {
  const std::string good = TerminalFrame("XX", "820");
  const std::string cases[] = {
      "\x02XX00a5TRM820 junk",                                // length field not digits
      TerminalFrame("XX", "838\x1c" + std::string(60, '7')),  // longer than the record
      TerminalFrame("X5", std::string(60, '\x11')),
  };
  for (const std::string& refused : cases) {
    // In small reads the good frame is collected piece by piece; in one read it is taken whole
    // right after the dropped bytes.
    for (size_t piece : {9u, 4096u}) {
      SCOPED_TRACE(refused.substr(0, 7) + " in reads of " + std::to_string(piece));
      FrameAssembler assembler(Log(), 64);
      const Collected got = FeedInReads(&assembler, refused + good + "van" + good, piece);
      EXPECT_EQ(got.frames, (std::vector<std::string>{good, good}));
      EXPECT_EQ(got.other_bytes, "van");
    }
  }
  EXPECT_NE(LogText().find(kFrameDroppedLogTag), std::string::npos);
}

}  // namespace
}  // namespace hub

#include "companions/util/frame_packing.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "companions/util/ordella_util.h"

namespace {

char CheckByte(const std::string& from_stx_to_etx) {
  return static_cast<char>(
      UtilCheckByte(reinterpret_cast<const unsigned char*>(from_stx_to_etx.data()) + 1,
                    static_cast<int>(from_stx_to_etx.size() - 1)));
}

std::string Length4(size_t value) {
  std::string digits = std::to_string(value);
  return std::string(4 - digits.size(), '0') + digits;
}

// A plain frame with its check byte: STX, flags, length (body + 11), "TRM", body, ETX.
std::string PlainFrame(const std::string& body, char cipher_flag = 'X') {
  std::string frame =
      std::string("\x02") + cipher_flag + "X" + Length4(body.size() + 11) + "TRM" + body + "\x03";
  return frame + CheckByte(frame);
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A packed frame (STX through ETX, no check byte) around any stream, for damaged input.
std::string PackedAround(const std::string& stream) {
  return "\x02X9" + Length4(stream.size() + 11) + "TRM" + stream + "\x03";
}

std::string Korean(size_t bytes) {
  std::string text;
  while (text.size() + 2 <= bytes) text += "\xC7\xD1";
  return text;
}

std::string Incompressible(size_t size) {
  std::mt19937 random(7);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(random() & 0xFF);
  return data;
}

// Runs UtilUnpackFrame on `frame` (STX through ETX) in a buffer of the documented size.
struct Unpacked {
  int result;
  std::vector<unsigned char> buffer;
};
Unpacked Unpack(const std::string& frame, int mode = 1) {
  std::vector<unsigned char> buffer(kUtilMaxFrame, 0xEE);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  const int result = UtilUnpackFrame(mode, buffer.data(), static_cast<int>(frame.size()));
  return {result, buffer};
}

TEST(FramePacking, PackedFramesUnpackToTheirPlainForm) {
  struct Case {
    std::string body;
    int level;
    char cipher_flag;
  };
  const Case cases[] = {
      {"835\x1C"
       "8801234567890",
       6, 'X'},
      {"", 0, 'X'},
      {"820\x1C" + Korean(3000) + "\x1D" + std::string(2000, 'A'), 9, 'X'},
      {"812" + Incompressible(4000), 1, 'S'},
      // The largest body a four-digit length field allows.
      {std::string(9988, 'B'), 9, 'X'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "body of " << c.body.size() << ", level " << c.level);
    const std::string plain = PlainFrame(c.body, c.cipher_flag);
    const std::optional<std::string> packed = frame_packing::PackFrame(plain, c.level);
    ASSERT_TRUE(packed.has_value());
    EXPECT_EQ((*packed)[2], '0' + c.level);
    const std::string packed_frame = packed->substr(0, packed->size() - 1);
    EXPECT_EQ(packed->substr(3, 4), Length4(packed_frame.size()));
    EXPECT_EQ(packed->back(), CheckByte(packed_frame));

    const Unpacked unpacked = Unpack(packed_frame);
    ASSERT_EQ(unpacked.result, static_cast<int>(plain.size() - 1));
    EXPECT_EQ(std::string(unpacked.buffer.begin(), unpacked.buffer.begin() + plain.size()), plain);
    EXPECT_EQ(unpacked.buffer[plain.size()], 0) << "terminating zero";
  }
}

TEST(FramePacking, UnpackRefusesAndLeavesTheBufferUnchanged) {
  const std::string good = *frame_packing::PackFrame(PlainFrame("835\x1C" + Korean(200)), 6);
  const std::string frame = good.substr(0, good.size() - 1);
  const std::string stream = frame.substr(10, frame.size() - 11);
  std::string wrong_length = frame;
  wrong_length[6] = static_cast<char>(wrong_length[6] == '9' ? '8' : wrong_length[6] + 1);
  std::string damaged = frame;
  for (size_t i = 12; i < 20; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  struct Case {
    const char* what;
    std::string frame;
    int mode;
  };
  const Case cases[] = {
      {"plain frame", PlainFrame("835").substr(0, 14), 1},
      {"forwarded frame", "\x02XC0014TRM835\x03", 1},
      {"other mode", frame, 2},
      {"length field not the frame's", wrong_length, 1},
      {"no ETX", frame.substr(0, frame.size() - 1) + "\x04", 1},
      {"damaged stream", damaged, 1},
      {"truncated stream", PackedAround(stream.substr(0, stream.size() / 2)), 1},
      {"bytes after the stream", PackedAround(stream + "junk"), 1},
      {"not a stream", PackedAround("not deflate at all"), 1},
      // One byte more than the length field allows, and far more.
      {"body one byte too long", PackedAround(RawDeflate(std::string(9989, 'B'))), 1},
      {"body far too long", PackedAround(RawDeflate(std::string(1 << 20, '\0'))), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Unpacked unpacked = Unpack(c.frame, c.mode);
    EXPECT_EQ(unpacked.result, 0);
    EXPECT_EQ(std::string(unpacked.buffer.begin(), unpacked.buffer.begin() + c.frame.size()),
              c.frame);
    EXPECT_EQ(unpacked.buffer[c.frame.size()], 0xEE);
  }
  EXPECT_EQ(UtilUnpackFrame(1, nullptr, 20), 0);
}

TEST(FramePacking, PackRefusesWhatItCannotPack) {
  const std::string plain = PlainFrame("835");
  EXPECT_TRUE(frame_packing::PackFrame(plain.substr(0, plain.size() - 1), 5).has_value())
      << "the check byte is optional";
  std::string packed_already = plain;
  packed_already[2] = '5';
  const std::string refused[] = {
      packed_already, plain.substr(0, 9), plain.substr(0, plain.size() - 2),  // no ETX
      PlainFrame(Incompressible(9988)),  // stored blocks outgrow the length field
  };
  for (const std::string& frame : refused) {
    EXPECT_FALSE(frame_packing::PackFrame(frame, 0).has_value()) << frame.substr(0, 16);
  }
  EXPECT_FALSE(frame_packing::PackFrame(plain, -1).has_value());
  EXPECT_FALSE(frame_packing::PackFrame(plain, 10).has_value());
}

}  // namespace

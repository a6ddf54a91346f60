#include "tools/terminal_sim.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "companions/huffcompress/ordella_huffcompress.h"
#include "companions/huffcompress/testing/signature_bmp.h"
#include "hub/core/frame_decoder.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace terminal_sim {
namespace {

std::string Greeting() {
  const std::vector<std::string_view> empty(21);
  return protocol::BuildFrame(*protocol::MessageBody(841, empty), protocol::LengthRule::kGreeting,
                              protocol::kTerminalShape)
      .value();
}

// The signature image frame of a compressed image: STX "BMPP15", six-digit length, payload, ETX.
std::string SignatureFrame(const std::string& image) {
  std::string packed(ORDELLA_COMPRESS_BOUND(image.size()), '\0');
  const int m = Ordella_Compress(reinterpret_cast<const unsigned char*>(image.data()),
                                 static_cast<int>(image.size()),
                                 reinterpret_cast<unsigned char*>(packed.data()));
  packed.resize(static_cast<size_t>(m));
  char head[16];
  std::snprintf(head, sizeof head,
                "\x02"
                "BMPP15%06d",
                m);
  return head + packed + "\x03";
}

std::vector<std::string> Split(const std::vector<std::string>& feeds) {
  StreamSplitter splitter;
  std::vector<std::string> lines;
  for (const std::string& bytes : feeds) {
    splitter.Feed(bytes);
    while (std::optional<Received> message = splitter.Next(false)) {
      lines.push_back(Describe(*message));
    }
  }
  while (std::optional<Received> message = splitter.Next(true)) {
    lines.push_back(Describe(*message));
  }
  return lines;
}

TEST(StreamSplitter, SplitsWhatTheHubSendsIntoMessages) {
  const std::string greeting = Greeting();
  const std::string chunk = protocol::BuildBarcodeChunk(1, std::string("\x02\x03"
                                                                       "abc",
                                                                       5))
                                .value();
  const std::string_view lines[] = {"LINE 1", "line 2"};
  const std::string print = protocol::BuildRawPrintFrame(lines);
  std::string damaged = chunk;
  damaged[13] = 'X';
  const std::string no_check =
      "\x02XX0017TRM843\x1c"
      "00\x03";

  // A customer list: its length field counts the whole frame with the routing prefix, and its
  // packed records may hold STX and ETX bytes.
  const std::string customers = [] {
    const std::string body = std::string(
                                 "821\x1C"
                                 "01\x1C") +
                             std::string(
                                 "\x02\x03\x00"
                                 "ab",
                                 5);
    std::string frame = "\x02TavenorGatewayXX0000TRM" + body + "\x03";
    const std::string length = std::to_string(frame.size());
    frame.replace(17 + 4 - length.size(), length.size(), length);
    return frame + protocol::CheckByte(std::string_view(frame).substr(1));
  }();

  const std::string signature = SignatureFrame(huffcompress::testing::SignatureBmp(128, 64));
  const std::string signature_line =
      "signature payload=" + std::to_string(signature.size() - 14) +
      " image=" + std::to_string(huffcompress::testing::SignatureBmp(128, 64).size()) +
      " bitmap=128x64x1";

  struct Case {
    const char* name;
    std::vector<std::string> feeds;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"signature image in three pieces, then a frame",
       {signature.substr(0, 5), signature.substr(5, 20), signature.substr(25) + greeting},
       {signature_line, "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
      {"signature payload that is no compressed image",
       {"\x02"
        "BMPP15000003\x02\x03x\x03"},
       {"signature payload=3 image=undecodable"}},
      {"customer list with binary records, then a frame",
       {customers + greeting},
       {"frame 821 prefix=yes length=37 check=ok fields=2 01|\\x02\\x03\\x00ab",
        "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
      {"greeting, byte by byte",
       [&] {
         std::vector<std::string> bytes;
         for (char c : greeting) bytes.emplace_back(1, c);
         return bytes;
       }(),
       {"frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
      {"VAN bytes, then a frame",
       {"\x10\x20"
        "AB" +
        greeting},
       {"bytes 10204142",
        "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
      {"barcode chunk holding STX and ETX, in two pieces",
       {chunk.substr(0, 14), chunk.substr(14)},
       {"chunk 1 length=5 check=ok"}},
      {"damaged chunk", {damaged}, {"chunk 1 length=5 check=bad"}},
      {"raw print ended by the next frame",
       {print + greeting},
       {"print LINE 1\\x0Aline 2\\x0A",
        "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
      {"raw print ended by a pause", {print}, {"print LINE 1\\x0Aline 2\\x0A"}},
      {"frame without a check byte",
       {no_check},
       {"frame 843 prefix=no length=17 check=none fields=1 00"}},
      {"frame cut short by the next one",
       {"\x02XX0030TRM8" + greeting},
       {"bytes 0258583030333054524D38",
        "frame 841 prefix=yes length=35 check=ok fields=21 ||||||||||||||||||||"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Split(c.feeds), c.lines) << c.name;
  }
}

TEST(RenderPrint, ShowsAGuidanceSheetsPicturesByTheirCodes) {
  const std::string rule(43, '-');
  const std::string text = "\x1d" "680000\n\n\x0e" + platform::Utf8ToCp949("홍길동님").value() +
                           "\x0f\n\x1d" "189800" + rule + "\n\x1d" "681800\n\x1d" "000000" +
                           rule + "\n\x1d" "12";
  EXPECT_EQ(RenderPrint(text), "[guidance sheet]\n\n**홍길동님**\n[pictograms F01 C16]\n" + rule +
                                   "\n[pictograms #68 F01]\n[no pictograms]\n" + rule +
                                   "\n<GS>12");
}

// A loaded machine may pause anywhere inside one write of the hub: a framed message is still
// one message, while bytes without framing end at the pause.
TEST(StreamSplitter, APauseNeverEndsAFramedMessage) {
  const std::string greeting = Greeting();
  const std::string binary =
      protocol::BuildFrame(std::string("821\x1C\x02\x03\x00"
                                       "ab",
                                       9), protocol::LengthRule::kNormal,
                           protocol::kTerminalShape)
          .value();
  const std::string copy = protocol::BuildFrame("151\x1C\x1C\x1CPRINTreceipt\n",
                                                protocol::LengthRule::kReceiptCopy,
                                                protocol::kTerminalShape)
                               .value();
  const std::string chunk = protocol::BuildBarcodeChunk(1, "abcdef").value();
  const std::string signature = SignatureFrame(huffcompress::testing::SignatureBmp(32, 8));
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // the line pauses after each
    std::vector<std::string> kinds;   // the first word of each message's description
  };
  const std::vector<Case> cases = {
      {"after STX", {greeting.substr(0, 1), greeting.substr(1)}, {"frame"}},
      {"inside the routing prefix", {greeting.substr(0, 6), greeting.substr(6)}, {"frame"}},
      {"inside the length field", {greeting.substr(0, 19), greeting.substr(19)}, {"frame"}},
      {"in the body", {greeting.substr(0, 30), greeting.substr(30)}, {"frame"}},
      {"before the check byte", {greeting.substr(0, 49), greeting.substr(49)}, {"frame"}},
      {"after STX and ETX bytes of a binary body",
       {binary.substr(0, 30), binary.substr(30)},
       {"frame"}},
      {"in a receipt copy", {copy.substr(0, 35), copy.substr(35)}, {"frame"}},
      {"in a barcode chunk", {chunk.substr(0, 14), chunk.substr(14)}, {"chunk"}},
      {"in a signature frame", {signature.substr(0, 20), signature.substr(20)}, {"signature"}},
      {"VAN bytes end at the pause", {"\x10\x20", greeting}, {"bytes", "frame"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamSplitter splitter;
    std::vector<std::string> kinds;
    for (const std::string& piece : c.pieces) {
      splitter.Feed(piece);
      while (std::optional<Received> message = splitter.Next(false)) {
        kinds.push_back(Describe(*message).substr(0, Describe(*message).find(' ')));
      }
      while (std::optional<Received> message = splitter.Next(true)) {
        kinds.push_back(Describe(*message).substr(0, Describe(*message).find(' ')));
      }
    }
    EXPECT_EQ(kinds, c.kinds);
    EXPECT_TRUE(splitter.empty());
  }
  // A receipt copy is a whole frame with its check byte.
  StreamSplitter splitter;
  splitter.Feed(copy);
  const std::optional<Received> message = splitter.Next(false);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->check, "ok");
  EXPECT_EQ(PrintText(*message), "receipt\n");
}

TEST(RenderPrint, ShowsThePaperAsReadableText) {
  const std::string text = platform::Utf8ToCp949("약제비 계산서\n").value() + "\x0e" +
                           platform::Utf8ToCp949("합계 : 1,000원").value() + "\x0f\n\x1b" +
                           "i  \x1e"
                           "17\x1f\t\x7f\xff\n";
  EXPECT_EQ(RenderPrint(text),
            "약제비 계산서\n**합계 : 1,000원**\n<ESC>i  <RS>17<US><TAB><DEL><xFF>\n");

  // Field 3 of a print message after "PRINT" (FS bytes inside the text kept), or a raw print.
  Received frame;
  frame.kind = Received::Kind::kFrame;
  frame.code = 151;
  frame.fields = {"", "", "PRINTbill", "more"};
  EXPECT_EQ(PrintText(frame), "bill\x1cmore");
  frame.code = 157;
  EXPECT_FALSE(PrintText(frame).has_value());
  const std::string_view lines[] = {"LINE"};
  StreamSplitter splitter;
  splitter.Feed(protocol::BuildRawPrintFrame(lines));
  EXPECT_EQ(PrintText(splitter.Next(true).value()), "LINE\n");
}

TEST(TerminalFrame, EveryEncodingDecodesToThePlainFrame) {
  platform::testing::TempPrefix prefix;
  const std::vector<std::string> fields = {"8801234567890", "", "\xb0\xa1"};
  const std::string plain = TerminalFrame(835, fields).value();
  EXPECT_EQ(plain,
            protocol::BuildMessage(835, std::vector<std::string_view>(fields.begin(), fields.end()))
                .value());
  for (Encoding encoding : {Encoding::kPacked, Encoding::kEnciphered}) {
    std::string frame = TerminalFrame(835, fields, encoding, 9).value();
    EXPECT_NE(frame, plain);
    ASSERT_EQ(hub::DecodeFrame(&frame), hub::DecodeStatus::kOk);
    EXPECT_EQ(frame, plain);
  }
  EXPECT_FALSE(TerminalFrame(1000, {}).has_value());
  EXPECT_FALSE(TerminalFrame(835, fields, Encoding::kPacked, 10).has_value());
  EXPECT_TRUE(protocol::ContainsMarker(BusyFrame(), "BUSY"));
}

TEST(TerminalSimulator, TalksWithTheProgramThatOpensItsPort) {
  platform::testing::TempPrefix prefix;
  std::string error;
  std::unique_ptr<TerminalSimulator> terminal = TerminalSimulator::Create(9, &error);
  ASSERT_NE(terminal, nullptr) << error;
  std::unique_ptr<platform::SerialPort> hub_side = platform::SerialPort::Open("COM9", 115200);
  ASSERT_NE(hub_side, nullptr);

  ASSERT_TRUE(terminal->SendNak());
  ASSERT_EQ(hub_side->WaitEvent(10000), platform::SerialPort::Event::kReadable);
  unsigned char byte = 0;
  EXPECT_EQ(hub_side->Read(&byte, 1), 1);
  EXPECT_EQ(byte, 0x15);

  const std::string greeting = Greeting();
  ASSERT_EQ(hub_side->Write(reinterpret_cast<const unsigned char*>(greeting.data()),
                            greeting.size(), 10000),
            static_cast<long>(greeting.size()));
  const std::optional<Received> message = terminal->NextFrame(841, 10000);
  ASSERT_TRUE(message.has_value());
  EXPECT_TRUE(message->routing_prefix);
  EXPECT_EQ(message->bytes, greeting);

  // Told to, it answers each relayed request at once (and never the link's own frames).
  const std::string_view print_fields[] = {"", "", "PRINTbill\n"};
  const std::string print =
      protocol::InsertRoutingPrefix(protocol::BuildMessage(151, print_fields).value()).value();
  for (const auto& [answer, expected] : {std::pair{TerminalSimulator::RelayAnswer::kAck, '\x06'},
                                         std::pair{TerminalSimulator::RelayAnswer::kNak, '\x15'}}) {
    terminal->AnswerRelayedRequests(answer);
    for (const std::string& sent : {greeting, print}) {
      ASSERT_EQ(
          hub_side->Write(reinterpret_cast<const unsigned char*>(sent.data()), sent.size(), 10000),
          static_cast<long>(sent.size()));
    }
    ASSERT_TRUE(terminal->NextFrame(151, 10000).has_value());
    ASSERT_EQ(hub_side->WaitEvent(10000), platform::SerialPort::Event::kReadable);
    unsigned char answered[4] = {};
    EXPECT_EQ(hub_side->Read(answered, sizeof answered), 1);
    EXPECT_EQ(answered[0], static_cast<unsigned char>(expected));
  }
  terminal->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kNone);

  terminal->LosePort();
  EXPECT_TRUE(terminal->lost());
  EXPECT_FALSE(terminal->SendAck());
  EXPECT_EQ(hub_side->WaitEvent(10000), platform::SerialPort::Event::kLost);
}

TEST(TerminalSimulator, OverTcpItSendsTheLinkCheckAndAnswersInRunsOfThree) {
  std::unique_ptr<platform::TcpListener> hub;
  ASSERT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &hub).ok());
  std::string error;
  std::unique_ptr<TerminalSimulator> terminal =
      TerminalSimulator::ConnectTcp("127.0.0.1", hub->port(), &error);
  ASSERT_NE(terminal, nullptr) << error;
  platform::UniqueFd hub_side;
  ASSERT_TRUE(hub->Accept(platform::Deadline::After(10000), &hub_side).ok());
  char check[3] = {};
  ASSERT_TRUE(platform::ReceiveExactly(hub_side.get(), check, sizeof check,
                                       platform::Deadline::After(10000))
                  .ok());
  EXPECT_EQ(std::string(check, sizeof check), "\x05\x05\x05");

  terminal->AnswerRelayedRequests(TerminalSimulator::RelayAnswer::kAck);
  const std::string_view print_fields[] = {"", "", "PRINTbill\n"};
  const std::string print =
      protocol::InsertRoutingPrefix(protocol::BuildMessage(151, print_fields).value()).value();
  ASSERT_TRUE(platform::SendAll(hub_side.get(), Greeting() + print,
                                platform::Deadline::After(10000))
                  .ok());
  EXPECT_EQ(terminal->NextFrame(841, 10000)->bytes, Greeting());
  EXPECT_EQ(terminal->NextFrame(151, 10000)->bytes, print);
  char answer[3] = {};
  ASSERT_TRUE(platform::ReceiveExactly(hub_side.get(), answer, sizeof answer,
                                       platform::Deadline::After(10000))
                  .ok());
  EXPECT_EQ(std::string(answer, sizeof answer), "\x06\x06\x06");
}

// The program: commands on standard input, one line per message received on standard output.
TEST(TerminalSimProgram, SendsWhatItIsToldAndPrintsWhatItReceives) {
  platform::testing::TempPrefix prefix;
  std::unique_ptr<platform::testing::ChildProcess> program = platform::testing::ChildProcess::Start(
      platform::testing::BuildDir() / "bin" / "terminal_sim", {"--com", "8"});
  ASSERT_NE(program, nullptr);
  ASSERT_TRUE(program->ReadLineWith("ready COM8 ", 10000)) << program->output();
  std::unique_ptr<platform::SerialPort> hub_side = platform::SerialPort::Open("COM8", 115200);
  ASSERT_NE(hub_side, nullptr);

  auto hub_reads = [&](size_t want) {
    std::string got;
    while (got.size() < want &&
           hub_side->WaitEvent(10000) == platform::SerialPort::Event::kReadable) {
      unsigned char chunk[256];
      const long n = hub_side->Read(chunk, sizeof(chunk));
      if (n > 0) got.append(reinterpret_cast<char*>(chunk), static_cast<size_t>(n));
    }
    return got;
  };
  const std::string frame = TerminalFrame(835, {"8801234567890", ""}).value();
  struct Case {
    const char* command;
    std::string sent;
  };
  const std::vector<Case> cases = {
      {"van 1020414243",
       "\x10\x20"
       "ABC"},
      {"send 835 8801234567890 \"\"", frame},
      // Binary fields, such as a packed barcode, given in hexadecimal.
      {"sendhex 835 FFF8801234567890 \"\"",
       TerminalFrame(835, {"\xFF\xF8\x80\x12\x34\x56\x78\x90", ""}).value()},
      {"busy", BusyFrame()},
      {"ack", "\x06"},
      {"nak", "\x15"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(program->WriteLine(c.command));
    EXPECT_EQ(hub_reads(c.sent.size()), c.sent) << c.command;
  }
  ASSERT_TRUE(program->WriteLine("van 1"));
  EXPECT_TRUE(program->ReadLineWith("error van needs hexadecimal bytes", 10000));
  ASSERT_TRUE(program->WriteLine("sendhex 835 F"));
  EXPECT_TRUE(program->ReadLineWith("error sendhex needs hexadecimal fields", 10000));

  const std::string greeting = Greeting();
  ASSERT_EQ(hub_side->Write(reinterpret_cast<const unsigned char*>(greeting.data()),
                            greeting.size(), 10000),
            static_cast<long>(greeting.size()));
  EXPECT_TRUE(program->ReadLineWith("frame 841 prefix=yes length=35 check=ok fields=21 ", 10000))
      << program->output();

  // Told to, it plays the card side: 012 for 011, and ACK and 152 for a print.
  ASSERT_TRUE(program->WriteLine("card 9410123456785678"));
  ASSERT_TRUE(program->WriteLine("prints printed"));
  ASSERT_TRUE(program->WriteLine("prints later"));
  EXPECT_TRUE(program->ReadLineWith("error prints needs", 10000));
  const std::string_view no_fields[] = {"", "", ""};
  const std::string ask =
      protocol::InsertRoutingPrefix(protocol::BuildMessage(11, no_fields).value()).value();
  ASSERT_EQ(hub_side->Write(reinterpret_cast<const unsigned char*>(ask.data()), ask.size(), 10000),
            static_cast<long>(ask.size()));
  const std::string card = TerminalFrame(12, {"", "", "9410123456785678"}).value();
  EXPECT_EQ(hub_reads(card.size()), card);
  const std::string_view print_fields[] = {"", "", "PRINTreceipt\n"};
  const std::string print =
      protocol::InsertRoutingPrefix(protocol::BuildMessage(151, print_fields).value()).value();
  ASSERT_EQ(
      hub_side->Write(reinterpret_cast<const unsigned char*>(print.data()), print.size(), 10000),
      static_cast<long>(print.size()));
  const std::string printed = "\x06" + TerminalFrame(152, {}).value();
  EXPECT_EQ(hub_reads(printed.size()), printed);
  EXPECT_TRUE(program->ReadLineWith("  | receipt", 10000)) << program->output();

  ASSERT_TRUE(program->WriteLine("lose"));
  EXPECT_TRUE(program->ReadLineWith("lost", 10000));
  EXPECT_EQ(hub_side->WaitEvent(10000), platform::SerialPort::Event::kLost);
  ASSERT_TRUE(program->WriteLine("quit"));
  EXPECT_EQ(program->Wait(10000), 0) << program->output();
}

}  // namespace
}  // namespace terminal_sim

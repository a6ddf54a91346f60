#include "hub/core/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "companions/seed/seed_cipher.h"
#include "hub/core/frame.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/test_support.h"
#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tools/gateway_server_sim.h"

namespace hub {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

constexpr int kTerminal = 1;

std::string Frame(int code, const std::vector<std::string>& fields = {}) {
  std::vector<std::string_view> views(fields.begin(), fields.end());
  return BuildMessage(code, views).value();
}

// Runs the dispatcher with everything outside it recorded.
class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() {
    context_.index = kTerminal;
    context_.log = LogTarget{(prefix_.path() / "log").string(), 1};
    services_.send_helvar = [this](int32_t code, std::string_view payload) {
      helvar_.emplace_back(code, std::string(payload));
      return 1;
    };
    services_.notify = [this](uint32_t event, int64_t lparam) {
      notifications_.emplace_back(event, lparam);
    };
    services_.send_to_terminal = [this](TerminalContext&, std::string_view bytes) {
      std::lock_guard<std::mutex> lock(mutex_);
      terminal_.emplace_back(bytes);
      return static_cast<int>(bytes.size());
    };
    services_.clock = &clock_;
    services_.start_program = [this](std::string_view command) {
      started_.emplace_back(command);
      return true;
    };
    services_.program_index = 1;
  }

  int Run(std::string frame) {
    record_.frame = std::move(frame);
    return Dispatch(context_, record_, services_);
  }

  std::string Log() { return testing::ReadFilesBelow(prefix_.path() / "log"); }

  platform::testing::TempPrefix prefix_;
  TerminalContext context_;
  MessageRecord record_;
  platform::ManualClock clock_;  // the pauses between barcode chunks take no time
  DispatchServices services_;
  std::vector<std::pair<int32_t, std::string>> helvar_;
  std::vector<testing::Notification> notifications_;
  std::mutex mutex_;
  std::vector<std::string> terminal_;
  std::vector<std::string> started_;
};

TEST_F(DispatchTest, MessageCodesBecomeTheirHelvarRequests) {
  const std::string card = std::string("\x12\x34\x56\x78\x9A\xBC\xDE\xF0\x01\x02", 10);
  const std::string item = std::string(26, '\x41') + "\xFE";
  struct Case {
    const char* name;
    std::string frame;
    int32_t program_index;
    std::vector<std::pair<int32_t, std::string>> expected;
  };
  const std::vector<Case> cases = {
      {"815 seller list", Frame(815, {"C01"}), 1, {{401, ""}}},
      {"815 other list", Frame(815, {"S01"}), 1, {}},
      {"820 prescriptions", Frame(820), 1, {{301, ""}}},
      {"822 guidance", Frame(822, {card}), 1, {{311, platform::ToHex(card).substr(6)}}},
      {"835 padded barcode",
       Frame(835,
             {std::string("\xFF\xFF\xFF\x88\x01\x23\x45\x67\x89\x01\x23\x45\x67\x89\xFF", 15)}),
       1,
       {{706, "8801234567890123456789FF"}}},
      {"837 rebuild", Frame(837), 1, {{701, ""}}},
      {"838 barcode read", Frame(838, {item}), 1, {{716, platform::ToHex(item)}}},
      {"888 barcode read, second form",
       Frame(888, {item + "0003"}),
       1,
       {{716, platform::ToHex(item) + "0003"}}},
      {"839 text to type", Frame(839, {"hello world"}), 1, {{711, "hello world"}}},
      {"880 customer list", Frame(880), 1, {{251, ""}}},
      {"880 two customers",
       Frame(880, {"2", std::string(20, '\x07')}),
       1,
       {{951, "2" + platform::ToHex(std::string(20, '\x07'))}}},
      {"880 five customers, cut to three",
       Frame(880, {"5", std::string(50, '\x09')}),
       1,
       {{951, "3" + platform::ToHex(std::string(30, '\x09'))}}},
      {"880 customers missing", Frame(880, {"2", std::string(5, 'x')}), 1, {}},
      {"810 customer query at PM2000", Frame(810, {"0"}), 1, {{201, ""}}},
      {"810 customer query elsewhere", Frame(810, {"0"}), 2, {}},
      {"810 card data", Frame(810, {"1", card}), 2, {{411, platform::ToHex(card).substr(6)}}},
      {"1 INIT", Frame(1, {"INIT"}), 1, {{950, ""}}},
      {"822 too short", Frame(822, {"abc"}), 1, {}},
  };
  for (const Case& c : cases) {
    helvar_.clear();
    services_.program_index = c.program_index;
    EXPECT_EQ(Run(c.frame), kDispatchDone) << c.name;
    EXPECT_EQ(helvar_, c.expected) << c.name;
  }
}

TEST_F(DispatchTest, ResultsTellTheLoopWhatIsLeftToDo) {
  const std::vector<std::pair<std::string, int>> cases = {
      {Frame(1), kDispatchCloseRelay},
      {Frame(1, {"OTHER"}), kDispatchCloseRelay},
      {Frame(2), kDispatchCloseRelay},
      {Frame(13, {"a", "b", "c"}), kDispatchCloseRelay},
      {Frame(12), kDispatchPayment},
      {Frame(42, {"x"}), kDispatchPayment},
      {Frame(152), kDispatchPayment},
      {Frame(912), kDispatchPayment},
      {Frame(999), kDispatchPayment},
      {Frame(814), kDispatchDone},
      {Frame(830), kDispatchDone},
      {Frame(840), kDispatchDone},
      {Frame(842, {"sign-on"}), kDispatchDone}};
  for (const auto& [frame, result] : cases) {
    EXPECT_EQ(Run(frame), result) << MessageCode(frame).value();
    EXPECT_EQ(record_.code, MessageCode(frame).value());
  }
  // Every frame is announced to the host with the terminal's index.
  EXPECT_EQ(notifications_.size(), cases.size());
  EXPECT_THAT(notifications_, ::testing::Each(Pair(kEventFrameOrRelayClosed, kTerminal)));
}

TEST_F(DispatchTest, SaleMessagesAreRelayedUnderTheirOwnBaseAndOnlyCancellationsWithMessageKept) {
  gateway_sim::Options options;
  options.sale.behaviour = gateway_sim::Behaviour::kRefuse;  // the server takes nothing
  std::string error;
  const auto sim = gateway_sim::GatewayServerSimulator::Start(options, &error);
  ASSERT_NE(sim, nullptr) << error;
  services_.relay.server = {"127.0.0.1",
                            std::to_string(sim->port(gateway_sim::PortKind::kSale))};
  services_.relay.limit = std::chrono::milliseconds(2000);
  std::vector<std::string> kept;
  services_.relay.store_frame = [&kept](std::string_view frame) {
    kept.emplace_back(frame);
    return 1;
  };
  struct Case {
    int code;
    int32_t helvar_code;  // base + terminal
    bool kept;
    const char* log_tag;
  };
  const std::vector<Case> cases = {{812, 801, false, "PosMessage812"},
                                   {813, 851, false, "PosMessage813"},
                                   {883, 861, true, "PosMessage883"}};
  for (const Case& c : cases) {
    helvar_.clear();
    kept.clear();
    const std::string frame = Frame(c.code, {"01", "0000", "T1", "5000"});
    std::string forwarded = frame;
    forwarded[2] = 'C';
    EXPECT_EQ(Run(frame), kDispatchDone) << c.code;
    EXPECT_THAT(helvar_, ElementsAre(Pair(c.helvar_code, BuildSaleRecord(forwarded).value())))
        << c.code;
    EXPECT_EQ(kept, c.kept ? std::vector<std::string>{forwarded} : std::vector<std::string>{})
        << c.code;
    EXPECT_THAT(Log(), ::testing::HasSubstr(c.log_tag)) << c.code;
  }
}

TEST_F(DispatchTest, AnEncipheredFrameIsDecipheredBeforeItsCodeIsRead) {
  const std::optional<seed::SeedKey> key = seed::ConfiguredSeedKey();
  ASSERT_TRUE(key.has_value());
  const std::optional<std::string> enciphered =
      seed::EncipherFrame(Frame(820), *key, seed::CipherLengthField::kTerminal);
  ASSERT_TRUE(enciphered.has_value());
  EXPECT_EQ(Run(*enciphered), kDispatchDone);
  EXPECT_EQ(record_.code, 820);
  EXPECT_THAT(helvar_, ElementsAre(Pair(301, "")));
}

TEST_F(DispatchTest, TheBarcodeFileGoesOutInChunksDrivenByTheTerminal) {
  std::string file(50000, '\0');
  for (size_t n = 0; n < file.size(); ++n) file[n] = static_cast<char>(n * 7 + n / 256);
  const std::filesystem::path path = platform::MapPath(BarcodeDatabasePath(kTerminal)).value();
  EXPECT_EQ(path.filename(), "BarcodeDB701.db");

  // Before the file exists: logged, nothing sent, the counter kept.
  EXPECT_EQ(Run(Frame(1, {"BDB"})), kDispatchDone);
  EXPECT_TRUE(terminal_.empty());
  EXPECT_EQ(context_.barcode_chunk, 0);
  EXPECT_THAT(Log(), ::testing::HasSubstr("BDBwrite Open FALSE"));

  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << file;
  struct Step {
    const char* control;
    int sent_chunk;  // 0: nothing sent
    int counter_after;
  };
  const std::vector<Step> steps = {
      {"NACK", 0, 0},  // nothing has gone out yet
      {"BDB", 1, 1},      {"NACK", 1, 1}, {"BDB", 2, 2},
      {"NACK BDB", 2, 2}, {"BDB", 3, 3},  {"BDB", 0, 3},  // past the end
  };
  for (const Step& step : steps) {
    terminal_.clear();
    EXPECT_EQ(Run(Frame(1, {step.control})), kDispatchDone) << step.control;
    EXPECT_EQ(context_.barcode_chunk, step.counter_after) << step.control;
    if (step.sent_chunk == 0) {
      EXPECT_TRUE(terminal_.empty()) << step.control;
      continue;
    }
    ASSERT_EQ(terminal_.size(), 1u) << step.control;
    const size_t first = static_cast<size_t>(step.sent_chunk - 1) * kBarcodeChunkBytes;
    EXPECT_EQ(terminal_[0], BuildBarcodeChunk(step.sent_chunk, file.substr(first, 21000)).value())
        << step.control;
  }

  notifications_.clear();
  EXPECT_EQ(Run(Frame(818)), kDispatchDone);
  EXPECT_EQ(context_.barcode_chunk, 0);
  EXPECT_THAT(notifications_, ElementsAre(Pair(kEventFrameOrRelayClosed, kTerminal),
                                          Pair(kEventBarcodeTransferEnd, kTerminal)));
  context_.barcode_chunk = 5;
  EXPECT_EQ(Run(Frame(837)), kDispatchDone);
  EXPECT_EQ(context_.barcode_chunk, 0);
}

TEST_F(DispatchTest, TheSampleGuidanceSheetIsARawPrintFrameInCp949) {
  EXPECT_EQ(Run(Frame(833)), kDispatchDone);
  ASSERT_EQ(terminal_.size(), 1u);
  const std::string& sheet = terminal_[0];
  ASSERT_TRUE(sheet.starts_with("\x02JIDPRINT"));
  std::vector<std::string> lines;
  for (size_t at = 9, end; (end = sheet.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(platform::Cp949ToUtf8(sheet.substr(at, end - at)).value());
  }
  EXPECT_TRUE(sheet.ends_with('\n'));
  const std::string rule(44, '-');
  EXPECT_THAT(lines,
              ElementsAre(rule, "       \x0E판매약 복약지도\x0F", rule, "약명>싸이베린정",
                          "용법>성인 1회 2정씩 1일 2-3회", "효능>위통,복통,위산과다,가슴앓이",
                          "주의>경미한 혈압상승,박동수증가,발한,전신불쾌감",
                          "구역,구토,변비,설사,시야몽롱,배뇨곤란,피부발진,",
                          "안면홍조,이상고열,모양근마비,심계항진,호흡깊이의",
                          "증가,경미한 혈압상승,박동수증가,발한,전신불쾌감",
                          "\x1D"
                          "184248",
                          rule));
}

// A window of the given class that records what it is sent or posted.
class RecordingWindow {
 public:
  explicit RecordingWindow(std::string_view class_name)
      : endpoint_(platform::WindowEndpoint::Create("", class_name,
                                                   [this](const platform::WindowMessage& m) {
                                                     std::lock_guard<std::mutex> lock(mutex_);
                                                     messages_.push_back(m);
                                                     return int64_t{0};
                                                   })) {}
  // What arrived since the last call.
  std::vector<platform::WindowMessage> Messages() {
    platform::SendCopyData(endpoint_->handle(), 0, 99, "fence", nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<platform::WindowMessage> kept;
    for (const auto& m : messages_) {
      if (m.copy_data_id != 99) kept.push_back(m);
    }
    messages_.clear();
    return kept;
  }

 private:
  std::mutex mutex_;
  std::vector<platform::WindowMessage> messages_;
  std::unique_ptr<platform::WindowEndpoint> endpoint_;
};

TEST_F(DispatchTest, Pm2000ScreensArePostedToItsMainWindow) {
  // Without PM2000's windows the program is started, and with the main window still missing
  // nothing is posted.
  EXPECT_EQ(Run(Frame(890, {"3"})), kDispatchDone);
  EXPECT_THAT(started_, ElementsAre("C:\\PM2000V6\\PM_PharmCharge.exe PMMAIN"));

  started_.clear();
  RecordingWindow main("TfrmPMMain6");
  RecordingWindow pharm("TfrmPharm_Main");
  const std::vector<std::pair<std::string, int64_t>> screens = {
      {"1", 207}, {"2", 302}, {"3", 501}, {"4", 204}, {"5", 403}, {"6", 0}, {"", 0}};
  for (const auto& [screen, lparam] : screens) {
    EXPECT_EQ(Run(Frame(890, {screen})), kDispatchDone);
    const std::vector<platform::WindowMessage> posted = main.Messages();
    if (lparam == 0) {
      EXPECT_TRUE(posted.empty()) << screen;
      continue;
    }
    ASSERT_EQ(posted.size(), 1u) << screen;
    EXPECT_EQ(posted[0].msg, 31895u);
    EXPECT_EQ(posted[0].wparam, 300u);
    EXPECT_EQ(posted[0].lparam, lparam);
  }
  EXPECT_TRUE(started_.empty());
}

TEST_F(DispatchTest, PharmChartPlusIsHandedFieldThree) {
  EXPECT_EQ(Run(Frame(13, {"a", "b", "CUST01"})), kDispatchCloseRelay);
  EXPECT_THAT(Log(), ::testing::HasSubstr("Tfrm_PharmChartPlusMain false"));

  RecordingWindow window("Tfrm_PharmChartPlusMain");
  EXPECT_EQ(Run(Frame(13, {"a", "b", "CUST01"})), kDispatchCloseRelay);
  const std::vector<platform::WindowMessage> sent = window.Messages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].msg, platform::kWmCopyData);
  EXPECT_EQ(sent[0].wparam, 0u);
  EXPECT_EQ(sent[0].copy_data, "PCPCUST01");
}

class PassThroughTest : public DispatchTest {
 protected:
  void StartServer(gateway_sim::Behaviour behaviour) {
    gateway_sim::Options options;
    options.pass_through.behaviour = behaviour;
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    services_.pass_through = {"127.0.0.1",
                              std::to_string(sim_->port(gateway_sim::PortKind::kPassThrough))};
    services_.limits = {std::chrono::milliseconds(2000), std::chrono::milliseconds(2000),
                        std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};
  }
  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
};

TEST_F(PassThroughTest, ServerBusinessReachesTheServerAndBothAnswersTheTerminal) {
  StartServer(gateway_sim::Behaviour::kAnswer);
  // Code 812 would be a sale, but "MIC" anywhere makes it server business.
  const std::string frame = Frame(812, {"01", "0000", "MIC"});
  EXPECT_EQ(Run(frame), kDispatchDone);
  ASSERT_TRUE(sim_->WaitForReceived(2, 5000));
  const std::vector<gateway_sim::ReceivedRequest> received = sim_->Received();
  EXPECT_EQ(received[0].bytes, frame);
  EXPECT_EQ(received[1].bytes, std::string(5, '\x06'));
  EXPECT_THAT(terminal_, ElementsAre(gateway_sim::PassThroughAnswer(812, 1),
                                     gateway_sim::PassThroughAnswer(812, 2)));
  EXPECT_TRUE(helvar_.empty());
  EXPECT_THAT(notifications_, ElementsAre(Pair(kEventFrameOrRelayClosed, kTerminal),
                                          Pair(kEventServerConnected, kTerminal),
                                          Pair(kEventServerGreeted, kTerminal)));
}

TEST_F(PassThroughTest, ASilentOrClosingServerSendsTheTerminalNothing) {
  for (gateway_sim::Behaviour behaviour :
       {gateway_sim::Behaviour::kSilent, gateway_sim::Behaviour::kRefuse}) {
    StartServer(behaviour);
    notifications_.clear();
    EXPECT_EQ(Run(Frame(500, {"CRE"})), kDispatchDone);
    EXPECT_TRUE(terminal_.empty());
    EXPECT_THAT(notifications_, ElementsAre(Pair(kEventFrameOrRelayClosed, kTerminal),
                                            Pair(kEventServerConnected, kTerminal)));
  }
}

TEST(SendToTerminalByLinkTest, TheTcpTerminalIsReachedThroughTheSharedBlock) {
  platform::testing::TempPrefix prefix;
  TerminalContext context;
  context.link_kind = kLinkTcp;
  context.shared_block = SharedBlock::Open(LogTarget{});
  ASSERT_NE(context.shared_block, nullptr);
  EXPECT_EQ(SendToTerminalByLink(context, "frame"), 5);
  EXPECT_EQ(context.shared_block->status(), kSharedHubData);
  std::vector<unsigned char> taken(16);
  EXPECT_EQ(context.shared_block->Read(0, taken.data(), 16), 5);
  EXPECT_EQ(std::string(taken.begin(), taken.begin() + 5), "frame");
}

}  // namespace
}  // namespace hub

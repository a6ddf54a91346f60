// Medication guidance sheets: the layout (wrapped lines, pictograms, the sheet and its print
// frames), the collectors on the fixture pharmacy, the UBcare library and request data, the
// exchange with the gateway simulator's guidance service, and the deliveries.
#include "helvar/guidance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helvar/guidance_order.h"
#include "helvar/guide_print.h"
#include "helvar/helvar_log.h"
#include "helvar/test_support.h"
#include "helvar/work_context.h"
#include "platform/clock.h"
#include "platform/prefix.h"
#include "platform/socket.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/frame.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tests/fixtures/fixture.h"

namespace helvar {
namespace {

using protocol::kFs;
using protocol::kGs;
using testing::Cp;

const std::string kRule = "-------------------------------------------";

std::string Utf8(std::string_view cp949) {
  return platform::Cp949ToUtf8(cp949).value_or("(not CP949)");
}

// Today as "YYYYMMDD", as the fixture's prescription serials begin.
std::string TodayDigits() { return platform::SystemClock().LocalDate(); }

void WriteFile(std::string_view windows_path, const std::string& text) {
  const std::filesystem::path path = platform::MapPath(windows_path).value();
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// --- Layout ------------------------------------------------------------------------------

TEST(WrappedLinesTest, LinesOfFortyBytesNeverSplitACharacterAndLoseTheirLineEnds) {
  struct Case {
    std::string name;
    std::string text;
    std::string lines;
  };
  auto repeat = [](std::string_view utf8, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += Cp(utf8);
    return text;
  };
  const std::string ascii(2000, 'x');
  const Case cases[] = {
      // 90 bytes without its CR LF: the first line ends a byte early before a character that
      // would cross the width, and the CR LF joins the two halves.
      {"90 bytes", "a" + repeat("가", 22) + "\r\n" + repeat("나", 22) + "b",
       "a" + repeat("가", 19) + "\n" + repeat("가", 3) + repeat("나", 17) + "\n" + repeat("나", 5) +
           "b\n"},
      {"line ends alone", "\n\r\n", ""},
      {"empty", "", ""},
      {"exactly one line", std::string(40, 'y'), std::string(40, 'y') + "\n"},
      // Only the first 1,023 bytes are used, never half a character.
      {"long ascii", ascii,
       [&] {
         std::string lines;
         for (int i = 0; i < 25; ++i) lines += std::string(40, 'x') + "\n";
         return lines + std::string(23, 'x') + "\n";
       }()},
      {"long korean", repeat("다", 600),
       [&] {
         std::string lines;
         for (int i = 0; i < 25; ++i) lines += repeat("다", 20) + "\n";
         return lines + repeat("다", 11) + "\n";
       }()},
  };
  for (const Case& c : cases) EXPECT_EQ(WrappedLines(c.text), c.lines) << c.name;
}

TEST(PictogramTextTest, PositionsOfTheCountedKnownCodesInSixDigits) {
  struct Case {
    std::string field;
    std::string digits;
  };
  const std::string g(1, kGs);
  const Case cases[] = {
      {"02F01" + g + "C16", "189800"},
      {"04F01" + g + "F02" + g + "F03" + g + "F04", "181920"},  // the first three kept
      {"03F01" + g + "Z99" + g + "C16", "189800"},              // an unknown code skipped
      {"01F01" + g + "C16", "180000"},                          // only as many as counted
      {"05P17", "710000"},                                      // fewer codes than counted
      {"00F01", "000000"},
      {"ABF01", "000000"},
      {"0", "000000"},
      {"", "000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(PictogramText(c.field), g + c.digits) << c.field;
}

GuidanceOrder OneDrugOrder() {
  GuidanceOrder order;
  order.key = "20261211000001";
  order.patient_line = Cp("홍길동님 (만 46세)");
  order.SetDate("20261211");
  order.AddDrug("E100000001", Cp("1일,3회,1캡슐/3일"));
  return order;
}

TEST(LayOutSheetTest, HeadPatientDrugsBetweenRulesAndThePharmacyFoot) {
  const std::vector<GuideDrugText> texts = {
      {Cp("아목시실린캡슐"), Cp("세균 감염증"), "02F01" + std::string(1, kGs) + "C16"}};
  const PharmacyLines pharmacy{Cp("행복약국"), Cp("김약사"), "02", "1234-5678",
                               Cp("서울시 중구 세종대로 110")};
  const std::string expected =
      "\x1D"
      "680000\n\n"
      "\x0E" +
      Cp("홍길동님 (만 46세)") + "\x0F\n" + Cp("조제일자: 2026.12.11\n") + kRule + "\n" +
      Cp("약명> 아목시실린캡슐\n") + Cp("용법> 1일,3회,1캡슐/3일\n") + Cp("효능> 세균 감염증\n") +
      "\n" +
      "\x1D"
      "189800" +
      kRule + "\n" + Cp("약국: ") + "\x0E" + Cp("행복약국") + "\x0F\n" +
      Cp("대표자/전화: 김약사     02-1234-5678\n") + Cp("서울시 중구 세종대로 110\n") + "\n";
  EXPECT_EQ(LayOutSheet(OneDrugOrder(), texts, pharmacy), expected);
}

TEST(GuidePrintFrameTest, RoutedAndPlainFramesCountTheSheetAndEndInTheCheckByte) {
  struct Case {
    bool routed;
    std::string head;
  };
  const Case cases[] = {
      {true, "\x02TavenorGatewayXX0013TRM151\x1C\x1C\x1CPRINT"},
      {false, "\x02XX0009TRM151\x1C"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> frame = GuidePrintFrame("ab", c.routed);
    ASSERT_TRUE(frame) << c.routed;
    EXPECT_EQ(*frame, c.head + "ab\x03" + protocol::CheckByte(c.head.substr(1) + "ab\x03"));
  }
  // A sheet whose length no longer fits four digits gets no frame at all.
  EXPECT_FALSE(GuidePrintFrame(std::string(9990, 'x'), true));
}

TEST(GuideRequestTest, CarriesKeyProgramCodesAndDirectionsAndCountsTheWholeFrame) {
  GuidanceOrder order = OneDrugOrder();
  order.AddDrug("E100000002", "w2");
  const std::string request = GuideRequest("1234567890", order, kGuideProgramPm2000);
  const std::string body =
      "143"
      "1234567890" +
      std::string(68, ' ') + kFs + "100" + kFs + "20261211000001" + kFs + "200" + kFs + "2" + kFs +
      "E100000001" + kGs + "E100000002" + kGs + kFs + Cp("1일,3회,1캡슐/3일") + kGs + "w2" + kGs +
      kFs + kFs + kFs;
  EXPECT_EQ(request, "\x02XX" +
                         platform::ZeroPadded(static_cast<long long>(request.size()), 6).value() +
                         "CRE" + body + "\x03");
}

// --- Collectors --------------------------------------------------------------------------

TEST(PatientLineTest, AgeAndSexFromTheResidentNumber) {
  struct Case {
    std::string resident;
    std::string line;
  };
  const Case cases[] = {
      {"8001011234567", "홍길동님(만 46세/남)"},
      {"8001012234567", "홍길동님(만 46세/여)"},
      {"0501013234567", "홍길동님(만 21세/남)"},
      {"0501014234567", "홍길동님(만 21세/여)"},
      {"8001015234567", "홍길동님"},
      {"800101", "홍길동님"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(ResidentPatientLine(Cp("홍길동"), c.resident, 2026)), c.line) << c.resident;
  }
}

TEST(FullYearsTest, OneYearLessUntilTheBirthday) {
  struct Case {
    CalendarDate birth;
    CalendarDate today;
    int years;
  };
  const Case cases[] = {
      {{1980, 12, 31}, {2026, 12, 30}, 45},
      {{1980, 12, 31}, {2026, 12, 31}, 46},
      {{1980, 6, 15}, {2026, 5, 20}, 45},
      {{1980, 6, 15}, {2026, 7, 1}, 46},
  };
  for (const Case& c : cases) EXPECT_EQ(FullYears(c.birth, c.today), c.years) << c.today.day;
}

// OnPharm's and OptiPharm's request data: fields 0-30 split at FS.
std::string RequestData(const std::string& count, const std::string& drugs) {
  std::vector<std::string> fields(31);
  fields[4] = Cp("이몽룡");
  fields[5] = "0101013123456";
  fields[6] = "20261211";
  fields[7] = "2026-1211-0001";
  fields[29] = count;
  fields[30] = drugs;
  std::string data;
  for (size_t i = 0; i < fields.size(); ++i)
    data += (i == 0 ? "" : std::string(1, kFs)) + fields[i];
  return data;
}
const std::string kTwoDrugGroups =
    "1|D1|x|" + Cp("1일 2회") + "|a|b|c|2|D2|x|" + Cp("1일 1회") + "|a|b|c";

TEST(CollectRequestOrderTest, PatientDateKeyAndTheCountedDrugGroups) {
  GuidanceOrder order;
  CollectRequestOrder(RequestData("3", kTwoDrugGroups), 2026, &order);
  EXPECT_EQ(Utf8(order.patient_line), "이몽룡님(만 25세/남)");
  EXPECT_EQ(order.date, "2026.12.11");
  EXPECT_EQ(order.key, "202612110001");
  ASSERT_EQ(order.drugs.size(), 2u);  // three counted, two there
  EXPECT_EQ(order.drugs[1].code, "D2");
  EXPECT_EQ(Utf8(order.drugs[1].direction), "1일 1회");

  GuidanceOrder one;
  CollectRequestOrder(RequestData("1", kTwoDrugGroups), 2026, &one);
  EXPECT_EQ(one.drugs.size(), 1u);
  GuidanceOrder cut;
  CollectRequestOrder(
      "a\x1C"
      "b",
      2026, &cut);  // far too few fields
  EXPECT_TRUE(cut.drugs.empty());
}

// --- Handlers on the fixture pharmacy, the guidance service and a print listener ---------

// A local print listener: takes one print frame per connection and answers it, or closes
// without a word.
class PrintListener {
 public:
  explicit PrintListener(bool answer) : answer_(answer) {
    EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 4, &socket_).ok());
    thread_ = std::thread([this] { Serve(); });
  }
  ~PrintListener() {
    socket_->Cancel();
    thread_.join();
  }
  std::string port() const { return std::to_string(socket_->port()); }
  std::vector<std::string> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  void Serve() {
    for (;;) {
      platform::UniqueFd client;
      if (socket_->Accept(platform::Deadline::Never(), &client).code() ==
          platform::StatusCode::kCancelled) {
        return;
      }
      std::string frame;
      std::array<char, 4096> chunk;
      size_t got = 0;
      // A print frame ends in ETX and its check byte.
      while ((frame.size() < 2 || frame[frame.size() - 2] != protocol::kEtx) &&
             platform::ReceiveSome(client.get(), chunk.data(), chunk.size(),
                                   platform::Deadline::After(30000), &got)
                 .ok()) {
        frame.append(chunk.data(), got);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
      }
      if (answer_) platform::SendAll(client.get(), "OK", platform::Deadline::After(30000));
      platform::CloseConnection(std::move(client));
    }
  }

  const bool answer_;
  std::unique_ptr<platform::TcpListener> socket_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
};

// A port where nobody listens.
std::string ClosedPort() {
  std::unique_ptr<platform::TcpListener> listener;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
  return std::to_string(listener->port());
}

class GuidanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstallDir("c:\\tavenor");
    testing::SetRegText("Software\\Tavenor\\Update", "path", "c:\\tavenor");
    testing::SetRegText("Software\\Tavenor", "bizno", "1234567890");
    testing::SetRegText("Software\\Tavenor", "pharmacy", Cp("행복약국"));
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    WriteFile("C:\\PM2000V6\\PM2000V6.INI", "[DATAPATH]\r\nPATH=PHARMSRV\r\n");
    ASSERT_TRUE(block_.ok());
    gateway_sim::Options options;
    options.guidance_service.drugs["E100000001"] = {
        Cp("아목시실린캡슐"),
        Cp("세균 감염증에 쓰는 항생제입니다. 정해진 기간 동안 빠짐없이 드세요."),
        "02F01" + std::string(1, kGs) + "C16"};
    options.guidance_service.drugs["E100000002"] = {Cp("코대원포르테시럽"), Cp("기침, 가래"),
                                                    "01P17"};
    StartService(std::move(options));
  }

  void StartService(gateway_sim::Options options) {
    std::string error;
    server_.reset();
    server_ = gateway_sim::GatewayServerSimulator::Start(std::move(options), &error);
    ASSERT_NE(server_, nullptr) << error;
    testing::SetRegText("Software\\Tavenor", "GuideServer Port",
                        std::to_string(server_->port(gateway_sim::PortKind::kGuidance)));
  }

  static int Run(Handler handler, int32_t code, std::string data, std::string aux2 = "",
                 std::string listener_port = "9988") {
    WorkSettings settings;
    settings.guide_port = std::move(listener_port);
    CWorkContext context{settings};
    Request request;
    request.code = code;
    request.data = std::move(data);
    request.aux2 = std::move(aux2);
    return handler(context, request);
  }
  static std::string LogText() {
    const auto dir = platform::MapPath("c:\\tavenor\\Log");
    return dir ? Utf8(platform::testing::ReadFilesBelow(*dir)) : std::string();
  }
  // The guidance requests the service received, split at FS.
  std::vector<std::vector<std::string>> Requests() const {
    std::vector<std::vector<std::string>> requests;
    for (const auto& received : server_->Received()) {
      const protocol::Fields<8> fields = protocol::SplitFields<8>(received.bytes, kFs);
      requests.emplace_back(fields.slot.begin(), fields.slot.end());
    }
    return requests;
  }
  // The sheet inside a print frame as readable text.
  static std::string SheetOf(const std::string& frame, std::string_view head) {
    EXPECT_TRUE(frame.starts_with(head)) << Utf8(frame);
    return Utf8(frame.substr(head.size(), frame.size() - head.size() - 2));
  }

  platform::testing::TempPrefix prefix_;
  testing::HubBlock block_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> server_;
  const std::string serial_ = TodayDigits() + "000001";
};

TEST_F(GuidanceTest, Pm2000PrescriptionPrintedThroughTheSharedBlock) {
  ASSERT_EQ(Run(Pm2000Guidance, 311, serial_), 1);
  ASSERT_EQ(block_.status(), 311);
  const std::string frame = block_.data();
  const std::string sheet = SheetOf(frame, "\x02TavenorGatewayXX");
  EXPECT_EQ(frame.substr(24, 11), "151\x1C\x1C\x1CPRINT");
  const int age = 100 + (TodayDate().year % 100) - 80;
  EXPECT_NE(sheet.find("\x0E홍길동님 (만 " + std::to_string(age) + "세)\x0F\n"), std::string::npos)
      << sheet;
  EXPECT_NE(sheet.find("조제일자: " + serial_.substr(0, 4) + "." + serial_.substr(4, 2) + "." +
                       serial_.substr(6, 2) + "\n"),
            std::string::npos);
  // The effect text wrapped into lines of at most 40 bytes; the pictograms by position.
  EXPECT_NE(sheet.find("효능> 세균 감염증에 쓰는 항생제입니다. 정해진 \n기간 동안 빠짐없이 "
                       "드세요.\n\n\x1D"
                       "189800" +
                       kRule),
            std::string::npos)
      << sheet;
  EXPECT_NE(sheet.find("약명> 코대원포르테시럽\n용법> 1일,3회,1.5mL/3일\n"), std::string::npos);
  EXPECT_NE(sheet.find("\x1D"
                       "710000"),
            std::string::npos);
  EXPECT_NE(sheet.find("약국: \x0E행복약국\x0F\n"), std::string::npos);

  // The drugs of the prescription (not the cancelled row) and their directions went out.
  ASSERT_EQ(Requests().size(), 1u);
  const std::vector<std::string> request = Requests()[0];
  EXPECT_EQ(request[2], serial_);
  EXPECT_EQ(request[3], "200");
  EXPECT_EQ(request[4], "2");
  EXPECT_EQ(request[5],
            "E100000001\x1D"
            "E100000002\x1D");
  EXPECT_EQ(Utf8(request[6]),
            "1일,3회,1캡슐/3일\x1D"
            "1일,3회,1.5mL/3일\x1D");
}

TEST_F(GuidanceTest, Pm2000WithoutPatientTakesTheAuxiliaryLineAndPrintsAtThePrintAddress) {
  PrintListener listener(true);
  WriteFile("C:\\PM2000V6\\PM2000V6.INI",
            Cp("[DATAPATH]\r\nPATH=PHARMSRV\r\n[개인별 설정내용]\r\nKICC_IP=127.0.0.1\r\n") +
                "KICC_PORT=" + listener.port() + "\r\n");
  ASSERT_EQ(Run(Pm2000Guidance, 66, serial_, Cp("홍길동님 (만 46세세)")), 1);
  ASSERT_EQ(listener.frames().size(), 1u);
  const std::string sheet = SheetOf(listener.frames()[0], "\x02XX");
  EXPECT_NE(sheet.find("\x0E홍길동님 (만 46세)\x0F"), std::string::npos) << sheet;
  EXPECT_EQ(block_.status(), 0);
  // With the drugs of the prescription still being made up.
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0][5],
            "E100000001\x1D"
            "E100000002\x1D"
            "E100000001\x1D");
  EXPECT_EQ(Utf8(Requests()[0][6]),
            "1일,3회,1캡슐/3일\x1D"
            "1일,3회,1.5mL/3일\x1D"
            "1일,2회,2캡슐/5일\x1D");
}

TEST_F(GuidanceTest, Pm2000FailuresPrintNothing) {
  // A prescription without drugs: nothing to ask the server, nothing printed.
  EXPECT_EQ(Run(Pm2000Guidance, 310, "20000101000001"), 1);
  EXPECT_TRUE(server_->Received().empty());
  EXPECT_NE(LogText().find("[CPm2000Db] no drugs for prescription"), std::string::npos)
      << LogText();

  // The guidance service down.
  gateway_sim::Options refusing;
  refusing.guidance.behaviour = gateway_sim::Behaviour::kRefuse;
  StartService(std::move(refusing));
  EXPECT_EQ(Run(Pm2000Guidance, 310, serial_), 1);
  EXPECT_EQ(block_.status(), 0);
  EXPECT_NE(LogText().find("복약지도 서버 접속안됨!"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("Ordella서버 복약지도 실패!"), std::string::npos);

  // The database cannot be reached: the request fails.
  WriteFile("C:\\PM2000V6\\PM2000V6.INI", "");
  EXPECT_EQ(Run(Pm2000Guidance, 310, serial_), 0);
  EXPECT_NE(LogText().find("OpenDB Fail"), std::string::npos);
  EXPECT_EQ(block_.status(), 0);
}

TEST_F(GuidanceTest, TheServiceExchangeFailsOnEveryIncompleteAnswer) {
  GuidanceOrder order = OneDrugOrder();
  struct Case {
    std::string name;
    gateway_sim::Options options;
    std::string logged;
  };
  std::vector<Case> cases(4);
  cases[0] = {"answered", {}, ""};
  cases[1].name = "short";
  cases[1].options.guidance_service.short_answer = true;
  cases[1].logged = "answer ended after";
  cases[2].name = "refused code";
  cases[2].options.guidance_service.answer_code = "9999";
  cases[2].logged = "answer code 9999";
  cases[3].name = "refused connection";
  cases[3].options.guidance.behaviour = gateway_sim::Behaviour::kRefuse;
  cases[3].logged = "복약지도 서버 접속안됨!";
  for (Case& c : cases) {
    StartService(std::move(c.options));
    const std::optional<std::string> sheet =
        GetGuidePrint(ReadGuideServer(), order, kGuideProgramPm2000);
    EXPECT_EQ(sheet.has_value(), c.logged.empty()) << c.name;
    if (!c.logged.empty()) {
      EXPECT_NE(LogText().find(c.logged), std::string::npos) << c.name;
    }
  }
  GuideServer nobody = ReadGuideServer();
  nobody.port = ClosedPort();
  EXPECT_FALSE(GetGuidePrint(nobody, order, kGuideProgramPm2000));
}

// A server that announces more than the answer buffer holds, or no length at all.
TEST_F(GuidanceTest, AnAnnouncedLengthBeyondTheBufferOrUnreadableIsRefused) {
  for (const std::string& answer : {std::string("\x02XX090000CRE143"), std::string("\x02XXabc")}) {
    std::unique_ptr<platform::TcpListener> listener;
    ASSERT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &listener).ok());
    std::thread serve([&] {
      platform::UniqueFd client;
      if (!listener->Accept(platform::Deadline::After(30000), &client).ok()) return;
      std::array<char, 4096> request;
      size_t got = 0;
      platform::ReceiveSome(client.get(), request.data(), request.size(),
                            platform::Deadline::After(30000), &got);
      platform::SendAll(client.get(), answer, platform::Deadline::After(30000));
      // Held open: the client must not wait for the rest.
      platform::ReceiveSome(client.get(), request.data(), request.size(),
                            platform::Deadline::After(30000), &got);
    });
    GuideServer server;
    server.port = std::to_string(listener->port());
    EXPECT_FALSE(ExchangeGuide(server, GuideRequest("1", OneDrugOrder(), "200"))) << answer;
    serve.join();
  }
  EXPECT_NE(LogText().find("answer of 90000 bytes announced"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("answer without a readable length"), std::string::npos);
}

TEST_F(GuidanceTest, UbcarePrescriptionThroughTheLibrary) {
  WriteFile("C:\\UBcare\\UpharmMD.txt",
            "CUST|2026-12-11|123456789|김민수|801231-1234567|1980-12-31|남\n"
            "DRUG|123456789|E100000002|1일 3회 식후\n");
  // 310-312 take the key from the end of the data, 9 from the start.
  ASSERT_EQ(Run(UbcareGuidance, 312, "00000123456789"), 1);
  ASSERT_EQ(block_.status(), 312);
  const std::string sheet = SheetOf(block_.data(), "\x02TavenorGatewayXX");
  char age[8];
  std::snprintf(age, sizeof age, "%02d", FullYears({1980, 12, 31}, TodayDate()));
  EXPECT_NE(sheet.find(std::string("\x0E김민수님(만") + age + "세/남)\x0F"), std::string::npos)
      << sheet;
  EXPECT_NE(sheet.find("약명> 코대원포르테시럽\n용법> 1일 3회 식후\n"), std::string::npos);
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0][2], "123456789");
  EXPECT_EQ(Requests()[0][3], "202");

  PrintListener listener(true);
  EXPECT_EQ(Run(UbcareGuidance, 9, "123456789EXTRA", "", listener.port()), 1);
  ASSERT_EQ(listener.frames().size(), 1u);
  EXPECT_TRUE(listener.frames()[0].starts_with("\x02XX"));

  // A prescription the library does not know has no drugs: the request fails.
  EXPECT_EQ(Run(UbcareGuidance, 9, "999999999", "", listener.port()), 0);
  EXPECT_NE(LogText().find("UpharmGetPst FALSE"), std::string::npos);
  EXPECT_NE(LogText().find("Ubcare_Service_GuidePrint"), std::string::npos);
  EXPECT_NE(LogText().find("복약지도 출력 실패"), std::string::npos);
  EXPECT_EQ(listener.frames().size(), 1u);
}

TEST_F(GuidanceTest, RequestProgramsSucceedOnlyAfterADeliveryThatDidNotFail) {
  struct Case {
    std::string name;
    Handler handler;
    std::string count;
    int listener;  // 0 answers, 1 closes without an answer, 2 nobody listens
    int result;
    std::string tag;  // of the failure record; "" none
    std::string text;
  };
  const Case cases[] = {
      {"OnPharm answered", OnPharmGuidance, "2", 0, 1, "", ""},
      {"OptiPharm unanswered", OptiPharmGuidance, "2", 1, 0, "OptiPharm_Service_GuidePrint",
       "게이트웨이 통신 실패"},
      {"OnPharm nobody listening", OnPharmGuidance, "2", 2, 1, "", ""},
      {"OnPharm without drugs", OnPharmGuidance, "0", 0, 0, "OnPharm_Service_GuidePrint",
       "복약지도 출력 실패"},
  };
  for (const Case& c : cases) {
    std::optional<PrintListener> listener;
    if (c.listener < 2) listener.emplace(c.listener == 0);
    const std::string port = listener ? listener->port() : ClosedPort();
    const size_t logged_before = LogText().size();
    EXPECT_EQ(Run(c.handler, 9, RequestData(c.count, kTwoDrugGroups), "", port), c.result)
        << c.name;
    const std::string log = LogText().substr(logged_before);
    if (c.tag.empty()) {
      EXPECT_EQ(log.find("_Service_GuidePrint"), std::string::npos) << c.name << log;
    } else {
      EXPECT_NE(log.find(c.tag), std::string::npos) << c.name << log;
      EXPECT_NE(log.find(c.text), std::string::npos) << c.name << log;
    }
  }
  // The program codes the server was told.
  std::vector<std::string> programs;
  for (const auto& request : Requests()) programs.emplace_back(request[3]);
  EXPECT_EQ(programs, (std::vector<std::string>{"206", "222", "206"}));
}

TEST_F(GuidanceTest, TheDispatchTableServesGuidanceByTheProgramIndex) {
  struct Case {
    int program;
    int32_t code;
    bool served;
  };
  const Case cases[] = {
      {1, 8, true},  {1, 66, true}, {1, 312, true},  {1, 9, false}, {2, 9, true},    {2, 311, true},
      {2, 8, false}, {3, 9, true},  {3, 310, false}, {16, 9, true}, {16, 66, false},
  };
  for (const Case& c : cases) {
    CWorkContext context{WorkSettings{}};
    FillDispatchTable(context);
    EXPECT_EQ(context.Slot(c.program, c.code) != nullptr, c.served) << c.program << " " << c.code;
  }
}

}  // namespace
}  // namespace helvar

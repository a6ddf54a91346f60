// Helvar, the tray service program, run for real in a temporary prefix: started by the hub for
// a customer list that reaches the asking terminal's loop, closed with the hub's module;
// typing keys, refusing a second copy and ending on a stop signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stores/local_stores.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/server_relay.h"
#include "platform/keyboard.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/shell_ui.h"
#include "platform/testing/support.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/e2e/host_fixture.h"
#include "tests/fixtures/fixture.h"
#include "protocol/testing/gateway_server_sim.h"
#include "tools/terminal_sim.h"

namespace e2e {
namespace {

// True once `condition` holds, within the patience.
bool WaitFor(const std::function<bool()>& condition) {
  return platform::testing::Eventually(condition, std::chrono::milliseconds(kPatienceMs));
}

class HelvarTest : public HostTest {
 protected:
  HelvarTest() : HostTest("helvar") {}

  void SetUp() override {
    HostTest::SetUp();
    LayPharmacy();
    WriteSettings("terminal_count = 1\nterminal0_port = 40\n");
  }

  std::unique_ptr<ChildProcess> StartHelvar() {
    return ChildProcess::Start(helvar_dir_ / "helvar", {});
  }

};

TEST_F(HelvarTest, HubStartsHelvarWhoseCustomerListReachesTerminalOneAndClosesIt) {
  // The block the terminal loops keep, held here as terminal loops do.
  std::unique_ptr<hub::SharedBlock> block = hub::SharedBlock::Open(hub::LogTarget{});
  ASSERT_NE(block, nullptr);
  std::unique_ptr<ChildProcess> host = LaunchHost();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(host->ReadLineWith("module started")) << host->output();
  ASSERT_TRUE(host->WriteLine("helvar 301"));
  EXPECT_TRUE(host->ReadLineWith("massage code=2 parameter=301 result=1")) << host->output();

  ASSERT_TRUE(WaitFor([&] { return block->status() == 301; })) << "no reply from Helvar";
  std::vector<unsigned char> taken(hub::kTerminalReplyBuffer);
  EXPECT_EQ(block->Read(0, taken.data(), hub::kTerminalReplyBuffer), 0);
  EXPECT_EQ(block->Read(2, taken.data(), hub::kTerminalReplyBuffer), 0);
  const int length = block->Read(1, taken.data(), hub::kTerminalReplyBuffer);
  ASSERT_GT(length, 0);
  const std::string frame(taken.begin(), taken.begin() + length);
  // Today's two prescriptions: "821", two records of 28 bytes, newest first.
  EXPECT_EQ(frame.substr(0, 31),
            "\x02TavenorGatewayXX0088TRM821\x1C"
            "02\x1C");
  EXPECT_EQ(frame.substr(41, 8), platform::Utf8ToCp949("김영희  ").value());
  EXPECT_EQ(block->status(), 0);

  ASSERT_TRUE(host->WriteLine("quit"));
  EXPECT_EQ(host->Wait(kPatienceMs), 0) << host->output();
  EXPECT_TRUE(WaitFor([] { return !platform::FindWindowByTitle(protocol::kHelvarWindowTitle); }))
      << "Helvar ends on UPDATE_ORDELLA_EVENT";
  EXPECT_TRUE(WaitFor([] { return !platform::CurrentTray().shown; }));
}

TEST_F(HelvarTest, TypesKeysRefusesASecondCopyAndEndsOnSigterm) {
  std::unique_ptr<ChildProcess> helvar = StartHelvar();
  ASSERT_NE(helvar, nullptr);
  ASSERT_TRUE(helvar->ReadLineWith("Helvar ready")) << helvar->output();
  EXPECT_TRUE(platform::CurrentTray().shown);

  std::unique_ptr<ChildProcess> second = StartHelvar();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->ReadLineWith("Helvar already running")) << second->output();
  EXPECT_EQ(second->Wait(kPatienceMs), 0);

  auto window = platform::FindWindowByTitle(protocol::kHelvarWindowTitle);
  ASSERT_TRUE(window);
  ASSERT_TRUE(platform::SendCopyData(*window, 712, 712, "123", nullptr));
  const std::vector<platform::KeyEvent> typed = {{'1', false}, {'1', true},  {'2', false},
                                                 {'2', true},  {'3', false}, {'3', true},
                                                 {13, false},  {13, true}};
  EXPECT_TRUE(WaitFor([&] { return platform::RecordedKeys() == typed; }));
  // Requests without a handler or with a payload of no bytes are refused without harm.
  EXPECT_TRUE(platform::SendCopyData(*window, 9, 9, "", nullptr));
  EXPECT_TRUE(platform::SendCopyData(*window, 0, 0, "", nullptr));  // no "memorymap"

  helvar->Signal(SIGTERM);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0) << helvar->output();
  EXPECT_FALSE(platform::FindWindowByTitle(protocol::kHelvarWindowTitle));
  EXPECT_FALSE(platform::CurrentTray().shown);
}

// Request 701 builds terminal 1's barcode database file and answers 817 with its chunk count.
TEST_F(HelvarTest, BuildsTheBarcodeDatabaseAndAnswersItsChunkCount) {
  std::unique_ptr<hub::SharedBlock> block = hub::SharedBlock::Open(hub::LogTarget{});
  ASSERT_NE(block, nullptr);
  std::unique_ptr<ChildProcess> helvar = StartHelvar();
  ASSERT_NE(helvar, nullptr);
  ASSERT_TRUE(helvar->ReadLineWith("Helvar ready")) << helvar->output();
  auto window = platform::FindWindowByTitle(protocol::kHelvarWindowTitle);
  ASSERT_TRUE(window);
  ASSERT_TRUE(platform::SendCopyData(*window, 701, 701, "", nullptr));

  ASSERT_TRUE(WaitFor([&] { return block->status() == 701; })) << helvar->output();
  std::vector<unsigned char> taken(hub::kTerminalReplyBuffer);
  const int length = block->Read(1, taken.data(), hub::kTerminalReplyBuffer);
  ASSERT_GT(length, 0);
  const std::string answer(taken.begin(), taken.begin() + length);
  // The frame, its check byte and a NUL.
  ASSERT_EQ(answer.size(), 32u);
  EXPECT_EQ(answer.substr(0, 30),
            "\x02TavenorGatewayXX0027TRM817\x1C"
            "1\x03");
  EXPECT_EQ(answer[31], '\0');
  EXPECT_TRUE(fs::exists(prefix_.path() / "drive_c" / "tavenor" / "BarcodeDB701.db"));

  helvar->Signal(SIGTERM);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0) << helvar->output();
}

// With the customer display flag set, Helvar opens the display at start, clears it once its
// start-up timer has run and closes it when it ends.
TEST_F(HelvarTest, OpensClearsAndClosesTheCustomerDisplayWhenTheFlagIsSet) {
  ASSERT_EQ(platform::RegSetDword("Software\\Tavenor", "pharmscreen", 1), platform::RegStatus::kOk);
  // What each display library shows: the item list and the pop-up window.
  const auto shown = [](const char* library) {
    return platform::testing::ReadFile(platform::RunDir() / (std::string("display-") + library + ".txt"));
  };
  std::unique_ptr<ChildProcess> helvar = StartHelvar();
  ASSERT_NE(helvar, nullptr);
  ASSERT_TRUE(helvar->ReadLineWith("Helvar ready")) << helvar->output();
  EXPECT_TRUE(WaitFor([&] { return shown("RetaloDisplay").starts_with("list: open\n"); }))
      << shown("RetaloDisplay");
  // The start-up clear shows the pop-up.
  EXPECT_TRUE(WaitFor([&] {
    return shown("Ordella_DisplayM").find("popup: shown\n") != std::string::npos;
  })) << shown("Ordella_DisplayM");

  helvar->Signal(SIGTERM);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0) << helvar->output();
  EXPECT_TRUE(shown("RetaloDisplay").starts_with("list: closed\n")) << shown("RetaloDisplay");
  EXPECT_NE(shown("Ordella_DisplayM").find("popup: closed\n"), std::string::npos)
      << shown("Ordella_DisplayM");
}

// A cancellation made while the pharmacy database is unreachable is stored; once the database is
// back, the shell's retry records it, once, and empties the store.
TEST_F(HelvarTest, CancellationStoredWhileTheDatabaseIsDownIsRecordedOnceWhenItReturns) {
  const auto query = [](std::string_view sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error)) << error;
    return rows;
  };
  // A card approval that paid one sale on 2013-12-20.
  query(
      "INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, ETC_CARD, OTC_CARD, ETC_CASH, "
      "OTC_CASH, ETC_PAPER, OTC_PAPER, TEMP_4, TEMP_5, APPR_GUBUN, APPR_DATE, PAPPROVAL_NUM) "
      "VALUES ('0000000009', '20131220', 'S1', 1500, 700, 0, 0, 0, 0, 0, 0, '1', "
      "'20131220153000', '30012345')");
  const auto payment_row = [&] {
    return query(
        "SELECT PCANCEL_NUM, APPR_GUBUN, ETC_CARD, OTC_CARD, ETC_PAPER, OTC_PAPER FROM "
        "PM_PRES.CD_SUNAB WHERE PRESERIAL = 'S1'");
  };
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "SqliteDir", "c:\\nowhere"),
            platform::RegStatus::kOk);

  std::unique_ptr<ChildProcess> helvar = StartHelvar();
  ASSERT_NE(helvar, nullptr);
  ASSERT_TRUE(helvar->ReadLineWith("Helvar ready")) << helvar->output();
  auto window = platform::FindWindowByTitle(protocol::kHelvarWindowTitle);
  ASSERT_TRUE(window);
  // The sale record of the cancel: F5 approval number, F14 approval date, F15 "C" (card).
  std::vector<std::string> fields(16);
  fields[0] = "0";
  fields[5] = "30012345";
  fields[14] = "131220153000";
  fields[15] = "C";
  std::string record;
  for (const std::string& field : fields) record += field + "\x1C";
  ASSERT_TRUE(platform::SendCopyData(*window, 850, 850, record, nullptr));

  stores::StoredRequest stored;
  int pending = 0;
  ASSERT_TRUE(WaitFor([&] { return stores::ReadFirstStoredRequest(&stored, &pending) == 1; }))
      << helvar->output();
  EXPECT_EQ(stored.code, 850);
  EXPECT_EQ(stored.data, record);
  EXPECT_EQ(pending, 1);
  EXPECT_EQ(payment_row(), "NULL|1|1500|700|0|0");

  ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "SqliteDir", "c:\\tavenor\\pmdb"),
            platform::RegStatus::kOk);
  EXPECT_TRUE(WaitFor([&] {
    return stores::ReadFirstStoredRequest(&stored, &pending) == 0 && pending == 0;
  })) << helvar->output();
  EXPECT_EQ(payment_row(), "30012345|5|0|0|1500|700");

  helvar->Signal(SIGTERM);
  EXPECT_EQ(helvar->Wait(kPatienceMs), 0) << helvar->output();
}

// A barcode scanned at a terminal on a serial line: the hub asks Helvar, which answers from the
// pharmacy database or, for a barcode the pharmacy lacks, from the gateway server's barcode
// service (creating the item), else as unregistered; the terminal gets the item packet.
TEST_F(HelvarTest, ABarcodeScannedAtTheTerminalIsAnsweredWithItsItemPacket) {
  constexpr int kCom = 3;
  std::string error;
  auto terminal = terminal_sim::TerminalSimulator::Create(kCom, &error);
  ASSERT_NE(terminal, nullptr) << error;
  gateway_sim::Options options;
  options.items["1234567890128"] = {"", "CREAM", "1200", "2000"};
  auto server = gateway_sim::GatewayServerSimulator::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "GatewayServer Port",
                                   std::to_string(server->port(gateway_sim::PortKind::kBarcode))),
            platform::RegStatus::kOk);
  StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kCom) + "\n");
  ASSERT_TRUE(terminal->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();

  struct Case {
    std::string barcode;
    std::string prices;   // packet bytes 28-37 as hexadecimal: sale, purchase, stock
    std::string product;  // packet bytes 38-57
  };
  const Case cases[] = {
      {"8801234567890", "00001000000006000015", platform::Utf8ToCp949("박카스디").value()},
      {"1234567890128", "00002000000012000000", "CREAM"},
      {"5555555555555", "00000000000000000000",
       platform::Utf8ToCp949("제품명_미등록").value()},
  };
  for (const Case& c : cases) {
    // The terminal packs the barcode two digits to a byte, filled with 0xFF in front.
    const std::string packed =
        platform::FromHex(std::string(30 - c.barcode.size(), 'F') + c.barcode).value();
    ASSERT_TRUE(terminal->SendFrame(835, {packed})) << c.barcode;
    std::optional<terminal_sim::Received> packet;
    do {
      packet = terminal->Next(kPatienceMs);
    } while (packet && packet->bytes.find("BDBI") == std::string::npos);
    ASSERT_TRUE(packet) << c.barcode << Diagnostics();
    // The simulator takes the packet for a frame ending at ETX and its check byte: the second
    // check byte comes on its own.
    std::string bytes = packet->bytes.substr(packet->bytes.find("BDBI") - 1);
    while (bytes.size() < 81) {
      packet = terminal->Next(kPatienceMs);
      ASSERT_TRUE(packet) << c.barcode;
      bytes += packet->bytes;
    }
    ASSERT_EQ(bytes.size(), 81u) << c.barcode;
    EXPECT_EQ(platform::ToHex(bytes.substr(12, 15)),
              std::string(30 - c.barcode.size(), 'F') + c.barcode);
    EXPECT_EQ(platform::ToHex(bytes.substr(28, 10)), c.prices) << c.barcode;
    EXPECT_EQ(bytes.substr(38, 20), c.product + std::string(20 - c.product.size(), ' '))
        << c.barcode;
  }
  EXPECT_EQ(server->Received().size(), 2u);  // the pharmacy database knew the first
}

// An item sold at the terminal: 838 updates the goods, 888 with the stock flag also sets the
// stock to the quantity counted on the shelf.
TEST_F(HelvarTest, AnItemScannedForSaleRevisesTheStockOnlyWhenFlagged) {
  constexpr int kCom = 3;
  std::string error;
  auto terminal = terminal_sim::TerminalSimulator::Create(kCom, &error);
  ASSERT_NE(terminal, nullptr) << error;
  StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kCom) + "\n");
  ASSERT_TRUE(terminal->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();
  // The rows of `sql`; "(busy)" while Helvar's process holds the database.
  const auto query = [](const std::string& sql) {
    std::string rows, failure;
    return fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &failure) ? rows : "(busy)";
  };
  const std::string stock =
      "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = 'ZP00000041'";
  const std::string revisions = "SELECT COUNT(*) FROM PM_DRUG.IMS_STOCK_REVISION";
  // The bottle of 8801234567890 at 1,100 (700 bought), one sold, nine counted on the shelf.
  const std::string item =
      platform::FromHex("FFFFFFFFFFFFFFFFF8801234567890" "00001100" "0001" "0009" "00000700")
          .value();
  ASSERT_TRUE(terminal->SendFrame(838, {item}));
  // The request taken (Helvar logs each one) and done: no revision, the stock as it was.
  const std::string hex_item = platform::ToHex(item);
  EXPECT_TRUE(WaitFor([&] {
    return platform::testing::ReadFilesBelow(install_dir_ / "Log").find(hex_item) !=
               std::string::npos &&
           query(revisions) == "0";
  })) << Diagnostics();
  EXPECT_TRUE(WaitFor([&] { return query(stock) == "15"; }));
  ASSERT_TRUE(terminal->SendFrame(888, {item + "UxUU"}));
  EXPECT_TRUE(WaitFor([&] { return query(stock) == "9"; })) << Diagnostics();
  EXPECT_TRUE(WaitFor([&] { return query(revisions) == "1"; }));
}

// A sale made at the terminal: relayed to the gateway server, then recorded in the pharmacy
// database by Helvar with its goods line and its card payment.
TEST_F(HelvarTest, ASaleMadeAtTheTerminalIsRecordedWithItsItems) {
  constexpr int kCom = 3;
  std::string error;
  auto terminal = terminal_sim::TerminalSimulator::Create(kCom, &error);
  ASSERT_NE(terminal, nullptr) << error;
  auto server = gateway_sim::GatewayServerSimulator::Start({}, &error);
  ASSERT_NE(server, nullptr) << error;
  StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kCom) +
                "\nterminal0_id = T0001\nserver_address = 127.0.0.1\n",
            {{hub::kSaleRelayPortVariable,
              std::to_string(server->port(gateway_sim::PortKind::kSale))}});
  ASSERT_TRUE(terminal->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();

  // Message fields 1-20: no prescription; card data, approval number, amounts and kind "C";
  // one item, 8801234567890 at 1,100 (700 bought), one sold.
  const std::string item =
      platform::FromHex("FFFFFFFFFFFFFFFFF8801234567890" "00001100" "0001" "0000" "00000700")
          .value();
  const std::vector<std::string> fields = {
      "01", "0000", "T1", "1", "0", "", "9410123456789012=2512", "E2E01", "0", "1000", "100",
      "",   "0",    "00", "",  "",  "", "C",                     "1",     item + "\x1D"};
  ASSERT_TRUE(terminal->SendFrame(812, fields));

  const auto query = [](const std::string& sql) {
    std::string rows, failure;
    return fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &failure) ? rows : "(busy)";
  };
  EXPECT_TRUE(WaitFor([&] {
    return query("SELECT OTC_CARD, PAPPROVAL_NUM FROM PM_PRES.CD_SUNAB WHERE PAPPROVAL_NUM = "
                 "'E2E01'") == "1100|E2E01";
  })) << Diagnostics();
  // Sold at the terminal's price; bought at the catalogue's, as the item changes no prices.
  EXPECT_EQ(query("SELECT DRUGCODE, SL_NM_ITEM, SL_NM_COST_A, SL_MY_IN_COST FROM PM_PRES.SALE_SUB"),
            "ZP00000041|1|1100|600");
}

// A guidance sheet asked for at the terminal (822, the prescription's packed key): Helvar
// collects the PM2000 prescription, asks the gateway server's guidance service and answers the
// print frame, which the hub forwards to the terminal's printer.
TEST_F(HelvarTest, AGuidanceSheetForAPm2000PrescriptionIsPrintedAtTheTerminal) {
  constexpr int kCom = 3;
  std::string error;
  auto terminal = terminal_sim::TerminalSimulator::Create(kCom, &error);
  ASSERT_NE(terminal, nullptr) << error;
  const auto cp = [](std::string_view utf8) { return platform::Utf8ToCp949(utf8).value(); };
  gateway_sim::Options options;
  options.guidance_service.drugs["E100000001"] = {
      cp("아목시실린캡슐"), cp("세균 감염증에 쓰는 항생제입니다. 정해진 기간 동안 빠짐없이 드세요."),
      "02F01\x1D" "C16"};
  auto server = gateway_sim::GatewayServerSimulator::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "GuideServer Port",
                                   std::to_string(server->port(gateway_sim::PortKind::kGuidance))),
            platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor", "pharmacy", cp("행복약국")),
            platform::RegStatus::kOk);
  terminal->AnswerRelayedRequests(terminal_sim::TerminalSimulator::RelayAnswer::kAck);
  StartHost("terminal_count = 1\nterminal0_port = " + std::to_string(kCom) + "\n");
  ASSERT_TRUE(terminal->NextFrame(841, kPatienceMs).has_value()) << Diagnostics();

  // The terminal sends the key of the prescription it picked from the 821 list: today's first.
  std::string rows, failure;
  ASSERT_TRUE(fixture::QueryFixture(fixture::DefaultDir(),
                                    "SELECT PRESERIAL FROM PM_PRES.PS_MAIN WHERE DAY_SERIAL = 1",
                                    &rows, &failure))
      << failure;
  const std::string key = platform::FromHex("000000" + rows).value();
  ASSERT_TRUE(terminal->SendFrame(822, {key}));

  const std::optional<terminal_sim::Received> print = terminal->NextFrame(151, kPatienceMs);
  ASSERT_TRUE(print) << Diagnostics();
  EXPECT_TRUE(print->routing_prefix);
  EXPECT_EQ(print->check, "ok");
  const std::string paper = terminal_sim::RenderPrint(terminal_sim::PrintText(*print).value());
  EXPECT_TRUE(paper.starts_with("[guidance sheet]\n\n**홍길동님 (만 ")) << paper;
  // The effect wrapped into lines of at most 40 bytes, then the pictograms and the rule.
  EXPECT_NE(paper.find("약명> 아목시실린캡슐\n용법> 1일,3회,1캡슐/3일\n효능> 세균 감염증에 쓰는 "
                       "항생제입니다. 정해진 \n기간 동안 빠짐없이 드세요.\n\n"
                       "[pictograms F01 C16]\n-------------------------------------------\n"),
            std::string::npos)
      << paper;
  EXPECT_NE(paper.find("약국: **행복약국**"), std::string::npos) << paper;
  ASSERT_EQ(server->Received().size(), 1u);
  EXPECT_NE(server->Received()[0].bytes.find(rows), std::string::npos);
}

}  // namespace
}  // namespace e2e

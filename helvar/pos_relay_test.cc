// The point-of-sale relay's handlers on the fixture pharmacy database, with the gateway
// simulator's barcode service and a stand-in for the card-network library.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/util/ordella_util.h"
#include "helvar/card_cancel.h"
#include "helvar/gateway_lookup.h"
#include "helvar/helvar_log.h"
#include "helvar/pos_items.h"
#include "helvar/pos_sale.h"
#include "helvar/test_support.h"
#include "helvar/work_context.h"
#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "protocol/testing/gateway_server_sim.h"
#include "retalo/ordella_retalo.h"
#include "stores/local_stores.h"
#include "tests/fixtures/fixture.h"

namespace helvar {
namespace {

using protocol::kFs;
using protocol::kGs;
using testing::Cp;

const std::string kSep(kParamSep);

// Joins UTF-8 fields, each followed by "‡", as CP949.
std::string Params(std::initializer_list<std::string_view> fields) {
  std::string text;
  for (std::string_view field : fields) text += Cp(field) + kSep;
  return text;
}

// A terminal item record: barcode filled with "F", the numbers zero-filled, then `flags`.
std::string ItemRecord(const std::string& barcode, int sale, int quantity, int counted,
                       int purchase, const std::string& flags = "") {
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%08d%04d%04d%08d", sale, quantity, counted, purchase);
  return std::string(30 - barcode.size(), 'F') + barcode + numbers + flags;
}

// A sale record with fields F0-F15 as given, joined by FS.
std::string SaleRecord(std::map<size_t, std::string> fields) {
  std::string record;
  for (size_t i = 0; i < 16; ++i) record += (i == 0 ? "" : std::string(1, kFs)) + fields[i];
  return record + kFs;
}

TEST(BuildSaleTextsTest, SaleAndPaymentTextsFromTheSaleRecord) {
  struct Case {
    std::string name;
    std::map<size_t, std::string> fields;
    std::string sale;
    std::string payment_tail;  // after the approval time
    int goods = 0;
  };
  const std::string two_items = ItemRecord("8806430100011", 3000, 2, 0, 2000, "UUUU") + kGs +
                                ItemRecord("8801234567890", 1000, 3, 0, 600) + kGs;
  const std::string two_prescriptions = "123456" "20131220000001" "ABCDEF" "20131220000002";
  const Case cases[] = {
      {"two items, no prescription",
       {{0, "0"}, {2, two_items}, {3, "1"}, {7, "8182"}, {8, "818"}, {10, "1000"}},
       Params({"1", "", "8182", "818", "1000", "2", "8806430100011", "3000", "2000", "2", "",
               "8801234567890", "1000", "600", "3", ""}),
       Params({"0", "", "", "", "", ""}), 2},
      {"a single GS: no goods",
       {{0, "0"}, {2, std::string(1, kGs)}},
       Params({"", "", "", "", "", "0"}), Params({"0", "", "", "", "", ""}), 0},
      {"two prescriptions of 20 characters",
       {{0, "2"}, {1, two_prescriptions}},
       Params({"", "", "", "", "", "0"}),
       Params({"2", "20131220000001", "", "", "", "", "20131220000002", "", "", "", ""}), 0},
      {"fewer prescription records than counted: only those present",
       {{0, "3"}, {1, two_prescriptions.substr(0, 20)}},
       Params({"", "", "", "", "", "0"}), Params({"1", "20131220000001", "", "", "", ""}), 0},
  };
  for (Case c : cases) {
    const SaleTexts texts = BuildSaleTexts(SaleRecord(c.fields), "20131220153000");
    EXPECT_EQ(texts.sale, c.sale) << c.name;
    EXPECT_EQ(texts.goods_count, c.goods) << c.name;
    const std::string head = Params({c.fields[7], c.fields[8], c.fields[6], c.fields[15],
                                     c.fields[5], "", c.fields[4], c.fields[11], "20131220153000"});
    EXPECT_EQ(texts.payment, head + c.payment_tail) << c.name;
  }
}

// Handlers run on the fixture database with Helvar's log and the hub's shared block.
class PosRelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstallDir("c:\\tavenor");
    testing::SetRegText("Software\\Tavenor\\Update", "path", "c:\\tavenor");
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    ASSERT_TRUE(block_.ok());
    PendingRetries() = 0;
  }
  void TearDown() override { InstallCardNetwork(nullptr); }

  static std::string Query(std::string_view sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error)) << error;
    return rows;
  }
  static std::string Utf8(std::string_view cp949) {
    return platform::Cp949ToUtf8(cp949).value_or("(not CP949)");
  }
  // Helvar's log records so far, as UTF-8.
  static std::string LogText() {
    const auto dir = platform::MapPath("c:\\tavenor\\Log");
    return dir ? Utf8(platform::testing::ReadFilesBelow(*dir)) : std::string();
  }
  static void DatabaseDown(bool down) {
    if (down) {
      testing::SetRegText("Software\\Tavenor", "SqliteDir", "c:\\nowhere");
    } else {
      platform::RegDeleteValue("Software\\Tavenor", "SqliteDir");
    }
  }

  int Run(Handler handler, int32_t code, std::string data, int price_update = 1) {
    WorkSettings settings;
    settings.price_update = price_update;
    CWorkContext context{settings};
    Request request;
    request.code = code;
    request.data = std::move(data);
    return handler(context, request);
  }

  platform::testing::TempPrefix prefix_;
  testing::HubBlock block_;
};

TEST_F(PosRelayTest, ASaleWithItemsIsRecordedWithItsLinesAndPayment) {
  const std::string items = ItemRecord("8806430100011", 3000, 2, 0, 2000) + kGs +
                            ItemRecord("8801234567890", 1000, 3, 0, 600) + kGs;
  const std::string record =
      SaleRecord({{0, "0"}, {2, items}, {3, "1"}, {4, "9410123456789012=2512"}, {5, "A12345"},
                  {6, "0"}, {7, "8182"}, {8, "818"}, {10, "1000"}, {11, "00"}, {15, "C"}});
  ASSERT_EQ(Run(RecordSale, 801, record), kHandlerDone) << LogText();
  EXPECT_EQ(Query("SELECT DRUGCODE, SL_NM_ITEM, SL_NM_COST_A, SL_MY_IN_COST, BARCODE FROM "
                  "PM_PRES.SALE_SUB ORDER BY DRUG_SERIAL"),
            "6430100010|2|3000|2000|8806430100011\nZP00000041|3|1000|600|08801234567890");
  EXPECT_EQ(Query("SELECT OTC_CARD, APPR_GUBUN, PAPPROVAL_NUM, PMONTH FROM PM_PRES.CD_SUNAB "
                  "WHERE PAPPROVAL_NUM IS NOT NULL"),
            "9000|1|A12345|00");
  EXPECT_EQ(LogText().find("Error Code"), std::string::npos) << LogText();
}

TEST_F(PosRelayTest, ASaleOfGoodsTheCatalogueLacksRegistersThemAndIsRecorded) {
  const std::string record =
      SaleRecord({{0, "0"}, {2, ItemRecord("1234567890128", 2500, 2, 0, 1500) + kGs}, {3, "1"},
                  {5, "C555"}, {7, "4545"}, {8, "455"}, {15, "C"}});
  ASSERT_EQ(Run(RecordSale, 800, record), kHandlerDone) << LogText();
  EXPECT_EQ(Query("SELECT SL_NM_ITEM, SL_NM_COST_A, BARCODE FROM PM_PRES.SALE_SUB"),
            "2|2500|1234567890128");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_DRUG.CD_ITEM_UNIT_MEMBER WHERE CD_CD_BARCODE = "
                  "'1234567890128'"),
            "1");
}

TEST_F(PosRelayTest, TheSellerListIsAnswered816OrNotAtAllWhenTheDatabaseIsDown) {
  ASSERT_EQ(Run(SendSellerList, 402, ""), kHandlerDone) << LogText();
  EXPECT_EQ(block_.status(), 402);
  auto name = [](std::string_view utf8) {
    std::string cp = Cp(utf8);
    return cp + std::string(10 - cp.size(), ' ') + "A" + kFs;
  };
  const std::string text = std::string("C") + kFs + "02" + kFs + name("김약사") + name("이직원");
  EXPECT_EQ(block_.data(), protocol::InsertRoutingPrefix("\x02XX0056TRM816" + std::string(1, kFs) +
                                                         text + "\x03")
                                   .value() +
                               std::string(1, '\0'));

  block_.set_status(0);
  DatabaseDown(true);
  EXPECT_EQ(Run(SendSellerList, 400, ""), kHandlerFailed);
  DatabaseDown(false);
  EXPECT_EQ(block_.status(), 0);
  EXPECT_NE(LogText().find("[PM2000_Service_SaleSawon] 에러코드 = -1001"), std::string::npos)
      << LogText();
}

TEST_F(PosRelayTest, ASaleWhileTheDatabaseIsDownIsStoredAndRecordedOnceItIsBack) {
  const std::string record = SaleRecord({{0, "0"}, {2, ItemRecord("8801234567890", 1000, 1, 0, 600) + kGs},
                                         {3, "1"}, {5, "B777"}, {7, "909"}, {8, "91"}, {15, "C"}});
  auto dispatch = [](int32_t code, const std::string& data) {
    std::unique_ptr<CWorkContext> context = CWorkContext::ForRequest();
    Request request;
    request.code = code;
    request.data = data;
    return context->Dispatch(request);
  };
  const std::string recorded =
      "SELECT COUNT(*) FROM PM_PRES.CD_SUNAB WHERE PAPPROVAL_NUM = 'B777'";
  DatabaseDown(true);
  EXPECT_EQ(dispatch(802, record), 0);  // the third terminal's sale: stored
  EXPECT_EQ(PendingRetries(), 1);
  dispatch(kRetryCode, "");
  EXPECT_EQ(PendingRetries(), 1);  // still down: kept
  DatabaseDown(false);
  EXPECT_EQ(Query(recorded), "0");
  for (int tick = 0; tick < 3; ++tick) dispatch(kRetryCode, "");
  EXPECT_EQ(Query(recorded), "1");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_PRES.SALE_MAIN"), "1");
  EXPECT_EQ(PendingRetries(), 0);
  const std::string log = LogText();
  EXPECT_NE(log.find("[Error Code] [ -1001 ]"), std::string::npos) << log;
}

// The barcode service of the gateway simulator, knowing one item without a maker.
class GatewayLookupTest : public PosRelayTest {
 protected:
  void SetUp() override {
    PosRelayTest::SetUp();
    gateway_sim::Options options;
    options.items["1234567890128"] = {"", Cp("새 크림"), "1200", "2000"};
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    ServeFrom(sim_->port(gateway_sim::PortKind::kBarcode));
  }
  static void ServeFrom(int port) {
    testing::SetRegText("Software\\Tavenor", "GatewayServer Port", std::to_string(port));
  }
  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
};

TEST_F(GatewayLookupTest, TheServerAnswersKnownUnknownOrNotAtAll) {
  testing::SetRegText("Software\\Tavenor", "bizno", "1234567890");
  GatewayServer server = ReadGatewayServer();
  std::optional<GatewayItem> item = RequestBarCode(server, "1234567890128");
  ASSERT_TRUE(item);
  EXPECT_TRUE(item->known());
  EXPECT_EQ(Utf8(item->product) + "|" + item->maker + "|" + item->purchase_price + "|" +
                item->sale_price,
            "새 크림||1200|2000");
  ASSERT_EQ(sim_->Received().size(), 1u);
  EXPECT_EQ(sim_->Received()[0].bytes, BarcodeRequest("1234567890", "1234567890128"));
  EXPECT_EQ(sim_->Received()[0].bytes.substr(0, 19), "\x02XX000109CRE8351234");

  item = RequestBarCode(server, "5555555555555");
  ASSERT_TRUE(item);
  EXPECT_FALSE(item->known());

  for (gateway_sim::Behaviour behaviour :
       {gateway_sim::Behaviour::kSilent, gateway_sim::Behaviour::kRefuse}) {
    gateway_sim::Options options;
    options.barcode.behaviour = behaviour;
    std::string error;
    auto quiet = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(quiet, nullptr) << error;
    server.port = std::to_string(quiet->port(gateway_sim::PortKind::kBarcode));
    server.answer_wait_ms = 200;
    EXPECT_FALSE(RequestBarCode(server, "1234567890128"));
  }
  EXPECT_NE(LogText().find("[RequestBarCode] 부외품 서버에 접속할수 없음!"), std::string::npos);
}

// The item packet's fields, read back.
struct Packet {
  std::string barcode, sale, purchase, stock, product, maker;
  bool operator==(const Packet&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Packet& p) {
  return out << p.barcode << "|" << p.sale << "|" << p.purchase << "|" << p.stock << "|"
             << p.product << "|" << p.maker;
}
std::optional<Packet> ReadPacket(const std::string& bytes) {
  if (bytes.size() != 81 || bytes.substr(0, 12) != "\x02" "BDBI0100060" || bytes[27] != '+' ||
      bytes[78] != protocol::kEtx) {
    return std::nullopt;
  }
  const uint16_t check =
      UtilCheck16(reinterpret_cast<const unsigned char*>(bytes.data()) + 1, 78);
  if (static_cast<unsigned char>(bytes[79]) != check >> 8 ||
      static_cast<unsigned char>(bytes[80]) != (check & 0xFF)) {
    return std::nullopt;
  }
  auto text = [](std::string_view cp949) {
    return platform::Cp949ToUtf8(cp949).value_or("(not CP949)");
  };
  return Packet{platform::ToHex(bytes.substr(12, 15)), platform::ToHex(bytes.substr(28, 4)),
                platform::ToHex(bytes.substr(32, 4)),  platform::ToHex(bytes.substr(36, 2)),
                text(bytes.substr(38, 20)),            text(bytes.substr(58, 20))};
}

TEST_F(GatewayLookupTest, ALookUpAnswersFromThePharmacyTheGatewayOrAsUnregistered) {
  const std::string unregistered = "제품명_미등록       ";
  struct Case {
    std::string name;
    std::string barcode;
    bool server_down;
    Packet packet;
    int catalogue;  // HasBarcode afterwards: 1 when the pharmacy database has it
  };
  const Case cases[] = {
      {"in the pharmacy database", "8801234567890", false,
       {"FFFFFFFFFFFFFFFFF8801234567890", "00001000", "00000600", "0015",
        "박카스디            ", "동아제약            "},
       1},
      {"known only at the gateway: created", "1234567890128", false,
       {"FFFFFFFFFFFFFFFFF1234567890128", "00002000", "00001200", "0000",
        "새 크림             ", "기타                "},
       1},
      {"known nowhere", "5555555555555", false,
       {"FFFFFFFFFFFFFFFFF5555555555555", "00000000", "00000000", "0000", unregistered,
        unregistered},
       0},
      {"gateway server down", "1234567890128", true,
       {"FFFFFFFFFFFFFFFFF1234567890128", "00000000", "00000000", "0000", unregistered,
        unregistered},
       0},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.server_down) ServeFrom(1);  // nothing listens there
    block_.set_status(0);
    ASSERT_EQ(Run(LookUpItem, 706, c.barcode), kHandlerDone) << c.name;
    EXPECT_EQ(block_.status(), 706) << c.name;
    EXPECT_EQ(ReadPacket(block_.data()), c.packet) << c.name;
    std::array<char, 512> answer{};
    EXPECT_EQ(HasBarcode(c.barcode.c_str(), answer.data(), static_cast<int>(answer.size())),
              c.catalogue)
        << c.name;
  }
}

TEST_F(GatewayLookupTest, AScannedItemUpdatesGoodsAndRevisesStockWhenFlagged) {
  struct Case {
    std::string name;
    std::string record;
    bool database_down;
    int result;
    std::string rows;  // stock of ZP00000041 and revisions, or goods of a created item
  };
  const std::string stock =
      "SELECT IM_QT_SALE_DEBIT FROM PM_DRUG.IM_TOTAL WHERE DRUGCODE = 'ZP00000041' UNION ALL "
      "SELECT COUNT(*) FROM PM_DRUG.IMS_STOCK_REVISION";
  const Case cases[] = {
      {"all flags: prices stored, stock revised", ItemRecord("8801234567890", 1100, 1, 9, 700, "UxUU"),
       false, kHandlerDone, "9\n1"},
      {"no flag characters: no revision", ItemRecord("8801234567890", 1100, 1, 9, 700), false,
       kHandlerDone, "15\n0"},
      {"database down: retried", ItemRecord("8801234567890", 1100, 1, 9, 700, "UxUU"), true,
       kHandlerRetry, "15\n0"},
  };
  for (const Case& c : cases) {
    SetUp();
    DatabaseDown(c.database_down);
    EXPECT_EQ(Run(SellScannedItem, 715, c.record), c.result) << c.name;
    DatabaseDown(false);
    EXPECT_EQ(Query(stock), c.rows) << c.name;
  }
  SetUp();
  EXPECT_EQ(Run(SellScannedItem, 717, ItemRecord("1234567890128", 2500, 1, 0, 1500, "U UU")),
            kHandlerDone);
  EXPECT_EQ(Query("SELECT GOODSNAME, SPLNAME FROM PM_DRUG.CD_GOODS WHERE DRUGCODE = "
                  "'ZP00000042'"),
            "새 크림|기타");
}

// The card-network library, played: it reads the card and answers every request as told.
class PlayedCardNetwork : public CardNetwork {
 public:
  std::optional<std::string> ReadCardTrack(std::string_view, std::string_view,
                                           std::string_view) override {
    return card_read ? std::optional<std::string>("9410123456789012=2512") : std::nullopt;
  }
  std::optional<CardNetworkAnswer> Exchange(const CardRequest& request) override {
    requests.push_back(request);
    return answer;
  }
  bool card_read = true;
  std::optional<CardNetworkAnswer> answer = CardNetworkAnswer{"0000", ""};
  std::vector<CardRequest> requests;
};

TEST_F(PosRelayTest, ACancellationAtTheCardNetworkIsRecordedWhenApproved) {
  struct Case {
    std::string name;
    std::string kind;
    bool card_read;
    std::optional<CardNetworkAnswer> answer;
    std::string message;  // shown at the terminal; empty: an empty reply
    std::string request;  // code, instalment, identity and track of the network request
    std::string cancelled;  // payment rows marked cancelled afterwards
  };
  const std::string not_cancelled = "0", cancelled = "1";
  const Case cases[] = {
      {"card approved", "C", true, CardNetworkAnswer{"0000", ""}, "",
       "063|03||9410123456789012=2512", cancelled},
      {"card refused", "C", true, CardNetworkAnswer{"8001", Cp("한도 초과")},
       "한도 초과       ", "063|03||9410123456789012=2512", not_cancelled},
      {"card not read", "C", false, std::nullopt, "   카드  취소    취소 연동 실패 ", "",
       not_cancelled},
      {"cash receipt approved", "H", true, CardNetworkAnswer{"0000", ""},
       "   현금영수증    취소 승인 성공 ", "183|01|01012345678|", cancelled},
      {"cash receipt exchange failed", "H", true, std::nullopt,
       "  현금영수증     취소 연동 실패 ", "183|01|01012345678|", not_cancelled},
      {"prescription payment: nothing at the network", "P", true, {}, "", "", not_cancelled},
      {"unknown kind: refused", "Z", true, {}, "", "", not_cancelled},
  };
  for (const Case& c : cases) {
    SetUp();
    Query("INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, ETC_CARD, OTC_CARD, "
          "ETC_PAPER, OTC_PAPER, TEMP_4, TEMP_5, APPR_DATE, PAPPROVAL_NUM, NAPPROVAL_NUM) "
          "VALUES ('0000000009', '20131220', 'S1', 1500, 700, 0, 0, 0, 0, '20131220153000', "
          "'A200', 'A200')");
    PlayedCardNetwork network;
    network.card_read = c.card_read;
    network.answer = c.answer;
    InstallCardNetwork(&network);
    block_.set_status(0);
    const std::string record = SaleRecord({{4, "01012345678"}, {5, "A200"}, {6, "1500"},
                                           {7, "700"}, {8, "70"}, {11, "03"},
                                           {14, "131220153000"}, {15, c.kind}});
    ASSERT_EQ(Run(CancelAtCardNetwork, 861, record), kHandlerDone) << c.name;
    EXPECT_EQ(block_.status(), 861) << c.name;
    EXPECT_EQ(block_.data(), c.message.empty() ? "" : TerminalMessageFrame(Cp(c.message)))
        << c.name;
    std::string sent;
    for (const CardRequest& r : network.requests) {
      EXPECT_EQ(r[0] + r[1] + r[3] + r[4] + r[5] + r[7] + r[8] + r[24],
                "127.0.0.19988150070070" "20131220" "A200" "200")
          << c.name;
      sent += r[2] + "|" + r[6] + "|" + r[9] + "|" + r[12];
    }
    EXPECT_EQ(sent, c.request) << c.name;
    EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_PRES.CD_SUNAB WHERE PCANCEL_NUM = 'A200' OR "
                    "NCANCEL_NUM = 'A200'"),
              c.cancelled)
        << c.name;
  }
  EXPECT_NE(LogText().find("unknown payment kind [Z]"), std::string::npos) << LogText();
}

TEST_F(PosRelayTest, ACancellationApprovedWhileTheDatabaseIsDownIsKeptForRecordingOnly) {
  PlayedCardNetwork network;
  InstallCardNetwork(&network);
  const std::string record = SaleRecord({{5, "A200"}, {14, "131220"}, {15, "C"}});
  DatabaseDown(true);
  EXPECT_EQ(Run(CancelAtCardNetwork, 862, record), kHandlerDone);
  DatabaseDown(false);
  EXPECT_EQ(network.requests.size(), 1u);
  // Stored as the terminal's plain cancellation: the retry records it without a second
  // cancellation at the network.
  stores::StoredRequest stored;
  int pending = 0;
  ASSERT_EQ(stores::ReadFirstStoredRequest(&stored, &pending), 1);
  EXPECT_EQ(stored.code, 852);
  EXPECT_EQ(stored.data, record);
  EXPECT_EQ(PendingRetries(), 1);
}

TEST(TerminalMessageFrameTest, TheMessageIsCutIntoLinesOfSixteen) {
  EXPECT_EQ(TerminalMessageFrame("CANCEL FAILED AT THE NETWORK"),
            protocol::InsertRoutingPrefix(std::string("\x02XX0043TRM157") + kFs + kFs +
                                          "CANCEL FAILED AT" + " THE NETWORK    " + kFs + "\x03")
                .value());
}

}  // namespace
}  // namespace helvar

#include "hub/core/manager_main_thread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "hub/core/relay_slot.h"
#include "hub/core/test_support.h"
#include "platform/socket.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace hub {

using namespace protocol;

namespace {

namespace fs = std::filesystem;
using testing::Notification;

// A started worker that notes when it is stopped.
class FakeWorker : public Worker {
 public:
  FakeWorker(std::string name, std::vector<std::string>* stopped)
      : name_(std::move(name)), stopped_(stopped) {}
  void Stop() override { stopped_->push_back(name_); }

 private:
  std::string name_;
  std::vector<std::string>* stopped_;
};

class MainThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.ok());
    char* record = record_.data();
    connmap::WriteText(record, connmap::kInstallDir, (prefix_.path() / "install").string());
    connmap::WriteInt(record, connmap::kLogFlag, 1);
    for (connmap::TextField listener : {connmap::kPosListenerPort, connmap::kFirstAckListenerPort,
                                        connmap::kSecondAckListenerPort}) {
      connmap::WriteText(record, listener, "0000");
    }
    connmap::WriteText(record, connmap::kTcpTerminalPort, "9300");
    Module().property_map = reinterpret_cast<unsigned char*>(record);
    Module().host_window = host_.handle();
    options_.terminal_pause_ms = 0;
  }
  void TearDown() override {
    Module().property_map = nullptr;
    Module().host_window = {};
  }

  void SetTerminals(std::vector<int32_t> ports) {
    connmap::WriteInt(record_.data(), connmap::kTerminalCount, static_cast<int32_t>(ports.size()));
    for (size_t i = 0; i < ports.size(); ++i) {
      connmap::WriteInt(record_.data(), connmap::InSlot(static_cast<int>(i), connmap::kSerialPort),
                        ports[i]);
    }
  }

  // Another program holds the TCP terminal's port: its listener cannot start.
  void TakeTcpTerminalPort() {
    ASSERT_TRUE(platform::TcpListener::Listen("0.0.0.0", 0, 1, &taken_).ok());
    connmap::WriteText(record_.data(), connmap::kTcpTerminalPort, std::to_string(taken_->port()));
  }

  platform::testing::TempPrefix prefix_;
  std::unique_ptr<platform::TcpListener> taken_;
  testing::TestHostWindow host_;
  std::array<char, connmap::kPropertyMapSize> record_{};
  MainThreadOptions options_;
};

TEST_F(MainThreadTest, SwitchedOffListenersPostNothingAndTheModuleRuns) {
  SetTerminals({});
  CManagerMainThread main_thread(options_);
  ASSERT_TRUE(main_thread.InitInstance());
  EXPECT_TRUE(Module().running.load());
  RelaySlot* slot = Module().relay_slot.load();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->send_state.load(), RelaySlot::kIdle);
  EXPECT_EQ(slot->byte_count.load(), 0);
  EXPECT_EQ(slot->relay_client.load(), RelaySlot::kNoClient);
  EXPECT_EQ(host_.Notifications(), std::vector<Notification>{});

  EXPECT_TRUE(main_thread.ExitInstance());
  EXPECT_FALSE(Module().running.load());
  EXPECT_EQ(Module().relay_slot.load(), nullptr);
  EXPECT_FALSE(main_thread.ExitInstance()) << "the exit routine runs once";
}

TEST_F(MainThreadTest, ListenersThatDoNotStartAreReportedInStartOrder) {
  SetTerminals({});
  // Two ports another program holds, and a text that is no port.
  std::unique_ptr<platform::TcpListener> taken[2];
  for (auto& listener : taken) {
    ASSERT_TRUE(platform::TcpListener::Listen("0.0.0.0", 0, 1, &listener).ok());
  }
  connmap::WriteText(record_.data(), connmap::kPosListenerPort, std::to_string(taken[0]->port()));
  connmap::WriteText(record_.data(), connmap::kFirstAckListenerPort, "port");  // not a number
  connmap::WriteText(record_.data(), connmap::kSecondAckListenerPort,
                     std::to_string(taken[1]->port()));
  CManagerMainThread main_thread(options_);  // the module's own listeners: none takes its port
  main_thread.InitInstance();
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventPosListenerFailed, 0},
                                                              {kEventAckListener2Failed, 0},
                                                              {kEventAckListener1Failed, 0}}));
  main_thread.ExitInstance();
}

TEST_F(MainThreadTest, StartedWorkersGetTheirPortsAndAreStoppedInSlotOrder) {
  SetTerminals({0});  // terminal 0 without a serial port: the TCP terminal
  connmap::WriteText(record_.data(), connmap::kPosListenerPort, "9200");
  connmap::WriteText(record_.data(), connmap::kFirstAckListenerPort, "9201");
  connmap::WriteText(record_.data(), connmap::kSecondAckListenerPort, "09202");
  std::vector<std::string> started;
  std::vector<std::string> stopped;
  auto listener = [&](std::string name) {
    return [&, name](int port) -> std::unique_ptr<Worker> {
      started.push_back(name + " " + std::to_string(port));
      return std::make_unique<FakeWorker>(name, &stopped);
    };
  };
  options_.pos_request_listener = listener("pos");
  options_.first_ack_listener = listener("ack1");
  options_.second_ack_listener = listener("ack2");
  options_.tcp_terminal = [&](int port) -> std::optional<TcpTerminalWorkers> {
    started.push_back("tcp " + std::to_string(port));
    return TcpTerminalWorkers{std::make_unique<FakeWorker>("tcp", &stopped),
                              std::make_unique<FakeWorker>("peer", &stopped), nullptr};
  };
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  EXPECT_EQ(started, (std::vector<std::string>{"pos 9200", "ack2 9202", "ack1 9201", "tcp 9300"}));
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventTcpTerminal, 0}}));

  main_thread.ExitInstance();
  EXPECT_EQ(stopped, (std::vector<std::string>{"peer", "pos", "ack1", "ack2", "tcp"}));
}

// What the start sequence did, in order, for the report installed the way the module installs it.
std::vector<std::string> start_steps;
void NoteReport() { start_steps.push_back("report"); }

TEST_F(MainThreadTest, TheInstalledOpenPaymentsReportRunsOnceBeforeAnyListenerStarts) {
  SetTerminals({});
  connmap::WriteText(record_.data(), connmap::kPosListenerPort, "9200");
  std::vector<std::string> stopped;
  options_.pos_request_listener = [&](int) -> std::unique_ptr<Worker> {
    start_steps.push_back("pos listener");
    return std::make_unique<FakeWorker>("pos", &stopped);
  };
  start_steps.clear();
  {
    CManagerMainThread main_thread(options_);  // no report installed: nothing to run
    main_thread.InitInstance();
    main_thread.ExitInstance();
  }
  InstallOpenPaymentsReport(NoteReport);
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  main_thread.ExitInstance();
  InstallOpenPaymentsReport(nullptr);
  EXPECT_EQ(start_steps, (std::vector<std::string>{"pos listener", "report", "pos listener"}));
}

TEST_F(MainThreadTest, TerminalsThatCannotStartAreReportedWithTheirIndex) {
  // Terminal 0 is the TCP terminal, whose port is taken; COM40 does not exist; only terminal 0
  // may be a TCP terminal, so port number 0 in slot 2 is a port that cannot open.
  SetTerminals({0, 40, 0});
  TakeTcpTerminalPort();
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventTcpListenerFailed, 0},
                                                              {kEventSerialPortFailed, 1},
                                                              {kEventSerialPortFailed, 2}}));
  EXPECT_EQ(main_thread.WriteToTerminal(1, "frame"), 0);
  main_thread.ExitInstance();
}

TEST_F(MainThreadTest, TerminalCountAboveThreeServesThreeTerminals) {
  SetTerminals({40, 41, 42});
  connmap::WriteInt(record_.data(), connmap::kTerminalCount, 7);
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventSerialPortFailed, 0},
                                                              {kEventSerialPortFailed, 1},
                                                              {kEventSerialPortFailed, 2}}));
  main_thread.ExitInstance();
}

// A pseudo-terminal standing in for a card terminal on a COM port of the prefix.
class PseudoTerminal {
 public:
  explicit PseudoTerminal(const fs::path& com_link) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    fs::create_directories(com_link.parent_path());
    fs::create_symlink(ptsname(master_), com_link);
    ok_ = true;
  }
  ~PseudoTerminal() {
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return ok_; }

  // What the hub wrote to the terminal, until `wanted` has been seen or 10 s passed.
  std::string ReadUntil(const std::string& wanted) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd watched{master_, POLLIN, 0};
      if (poll(&watched, 1, 100) <= 0) continue;
      char chunk[512];
      const ssize_t count = read(master_, chunk, sizeof chunk);
      if (count > 0) got.append(chunk, static_cast<size_t>(count));
    }
    return got;
  }

 private:
  int master_ = -1;
  bool ok_ = false;
};

TEST_F(MainThreadTest, SerialTerminalOpensUnderItsComNameAndTakesHostFrames) {
  PseudoTerminal terminal(prefix_.path() / "dosdevices" / "com3");
  ASSERT_TRUE(terminal.ok());
  SetTerminals({0, 3});  // terminal 0 over TCP (its port taken), terminal 1 on COM3
  TakeTcpTerminalPort();
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventTcpListenerFailed, 0}}));

  const std::string frame =
      "\x02TavenorGatewayXX0039TRM843\x1C\x1C\x1C"
      "00\x1C"
      "00\x1C"
      "00\x03";
  EXPECT_EQ(main_thread.WriteToTerminal(1, frame), static_cast<int>(frame.size()));
  EXPECT_NE(terminal.ReadUntil(frame).find(frame), std::string::npos);
  EXPECT_EQ(main_thread.WriteToTerminal(0, frame), 0) << "the TCP terminal is not connected";
  EXPECT_EQ(main_thread.WriteToTerminal(2, frame), 0) << "no third terminal";
  main_thread.ExitInstance();
  EXPECT_EQ(main_thread.WriteToTerminal(1, frame), 0) << "the port is closed at exit";
}

TEST_F(MainThreadTest, ThreadRunsUntilQuitAndClearsTheModuleOnExit) {
  SetTerminals({});
  auto main_thread = std::make_unique<CManagerMainThread>(options_);
  Module().main_thread.store(main_thread.get());
  ASSERT_TRUE(main_thread->CreateThread());
  EXPECT_FALSE(main_thread->Join(50)) << "the main thread idles until WM_QUIT";
  main_thread->PostQuit();
  ASSERT_TRUE(main_thread->Join(30000));
  EXPECT_EQ(Module().main_thread.load(), nullptr);
  EXPECT_FALSE(Module().running.load());
}

TEST_F(MainThreadTest, TheIdleMainThreadLooksForKeptFramesToReplayUntilItQuits) {
  SetTerminals({});
  std::atomic<int> looks{0};
  options_.replay_kept = [&looks] { looks.fetch_add(1); };
  auto main_thread = std::make_unique<CManagerMainThread>(options_);
  Module().main_thread.store(main_thread.get());
  ASSERT_TRUE(main_thread->CreateThread());
  EXPECT_TRUE(platform::testing::Eventually([&] { return looks.load() >= 2; }));
  main_thread->PostQuit();
  EXPECT_TRUE(main_thread->Join(30000)) << "a look never holds the quit back";
}

TEST_F(MainThreadTest, APosClientStillWaitingWhenTheModuleStopsSeesItsConnectionEnd) {
  SetTerminals({});
  CManagerMainThread main_thread(options_);
  main_thread.InitInstance();
  auto [hub_end, client_end] = platform::testing::SocketPair();
  RelaySlot* slot = Module().relay_slot.load();
  ASSERT_NE(slot, nullptr);
  slot->relay_client.store(hub_end.release());
  slot->send_state.store(RelaySlot::kSent);
  main_thread.ExitInstance();
  char byte = 0;
  size_t count = 0;
  EXPECT_EQ(
      platform::ReceiveSome(client_end.get(), &byte, 1, platform::Deadline::After(10000), &count)
          .code(),
      platform::StatusCode::kClosed);
}

TEST_F(MainThreadTest, TheVanModuleIsUsedOnlyWithAllFiveEntryPoints) {
  SetTerminals({});
  struct Case {
    const char* library;
    bool bound;
    const char* logged;
  };
  const Case cases[] = {
      {"Ordella_TavenorVanDll.DLL", true, ""},
      {"NoSuchVanModule.DLL", false, "VAN module not loaded"},
      {"OrdellaPartialVan.DLL", false, "lacks SendProtocal, CloseVanPort, SendClearBuffer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    options_.van_library = c.library;
    CManagerMainThread main_thread(options_);
    main_thread.InitInstance();
    const VanEntryPoints& van = Module().van;
    for (const bool present :
         {van.CreateVanModule != nullptr, van.SendProtocal != nullptr, van.CloseVanPort != nullptr,
          van.SendClearBuffer != nullptr, van.GetVanState != nullptr}) {
      EXPECT_EQ(present, c.bound);
    }
    EXPECT_NE(testing::ReadFilesBelow(prefix_.path() / "install").find(c.logged), std::string::npos);
    main_thread.ExitInstance();
  }
  EXPECT_TRUE(host_.Notifications().empty());  // neither failure is reported to the host
}

TEST(SerialPortNameTest, PortsFromTenOnAreNamedWithTheDevicePrefix) {
  const std::vector<std::pair<int, std::string>> cases = {
      {1, "COM1"}, {3, "COM3"}, {9, "COM9"}, {10, "\\\\.\\COM10"}, {12, "\\\\.\\COM12"}};
  for (const auto& [number, name] : cases) EXPECT_EQ(SerialPortName(number), name);
}

TEST(ListenerPortTest, OnlyFourZerosSwitchAListenerOff) {
  const std::vector<std::pair<std::string, std::optional<int>>> cases = {{"0000", std::nullopt},
                                                                         {"9200", 9200},
                                                                         {"00080", 80},
                                                                         {"65535", 65535},
                                                                         {"65536", 0},
                                                                         {"0", 0},
                                                                         {"", 0},
                                                                         {"92a0", 0},
                                                                         {"-1", 0}};
  for (const auto& [text, port] : cases) EXPECT_EQ(ListenerPort(text), port) << text;
}

}  // namespace
}  // namespace hub

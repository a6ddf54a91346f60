#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A pseudo-terminal whose slave the prefix names COM<n>: the test holds the master, the code
// under test opens the port by its Windows name.
class PtyFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    fs::create_directories(prefix_.path() / "dosdevices");
  }
  void TearDown() override { CloseMaster(); }

  void Link(const std::string& name) {
    fs::create_symlink(slave_, prefix_.path() / "dosdevices" / name);
  }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  termios SlaveSettings() const {
    termios settings{};
    EXPECT_EQ(tcgetattr(master_, &settings), 0);  // the master reads the slave's settings
    return settings;
  }

  std::string ReadMaster(size_t want) {
    std::string got;
    for (int tries = 0; tries < 1000 && got.size() < want; ++tries) {
      char chunk[256];
      const ssize_t n = read(master_, chunk, sizeof(chunk));
      if (n > 0) got.append(chunk, static_cast<size_t>(n));
      if (n <= 0) usleep(1000);
    }
    return got;
  }

  testing::TempPrefix prefix_;
  int master_ = -1;
  std::string slave_;
};

TEST_F(PtyFixture, OpenAppliesRawEightBitsNoParityAtTheBaudRate) {
  Link("com3");
  Status error;
  std::unique_ptr<SerialPort> port = SerialPort::Open("COM3", 115200, &error);
  ASSERT_NE(port, nullptr) << error.message();
  EXPECT_EQ(fs::path(port->device()), prefix_.path() / "dosdevices" / "com3");

  const termios settings = SlaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B115200));
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(settings.c_cflag & CREAD, 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_EQ(settings.c_cc[VMIN], 0);
  EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST_F(PtyFixture, PortNamesAndRefusals) {
  Link("com3");
  Link("com12");
  fs::create_directories(prefix_.path() / "drive_c");
  std::ofstream(prefix_.path() / "drive_c" / "plain.txt") << "x";
  fs::create_symlink(prefix_.path() / "drive_c" / "plain.txt",
                     prefix_.path() / "dosdevices" / "com5");

  struct Case {
    const char* name;
    int baud;
    bool opens;
  };
  const std::vector<Case> cases = {
      {"COM3", 115200, true},           {"com3", 9600, true},
      {"\\\\.\\COM12", 115200, true},   {"COM3", 12345, false},  // no such baud rate
      {"COM5", 115200, false},                                   // not a terminal
      {"COM200", 115200, false},                                 // no device behind the name
      {"c:\\plain.txt", 115200, false},
  };
  for (const Case& c : cases) {
    Status error;
    std::unique_ptr<SerialPort> port = SerialPort::Open(c.name, c.baud, &error);
    EXPECT_EQ(port != nullptr, c.opens) << c.name << " " << error.message();
    if (!c.opens) {
      EXPECT_FALSE(error.message().empty()) << c.name;
    }
  }
}

TEST_F(PtyFixture, SecondOpenOfAHeldPortFails) {
  Link("com3");
  std::unique_ptr<SerialPort> first = SerialPort::Open("COM3", 115200);
  ASSERT_NE(first, nullptr);
  Status error;
  EXPECT_EQ(SerialPort::Open("COM3", 115200, &error), nullptr);
  first.reset();
  EXPECT_NE(SerialPort::Open("COM3", 115200), nullptr);
}

TEST_F(PtyFixture, BytesPassBothWaysUnchanged) {
  Link("com3");
  std::unique_ptr<SerialPort> port = SerialPort::Open("COM3", 115200);
  ASSERT_NE(port, nullptr);

  unsigned char buffer[64];
  EXPECT_EQ(port->Read(buffer, sizeof(buffer)), 0);  // nothing waiting: no block, no error

  // Every byte value, CR, LF, XON/XOFF and control bytes included, passes untouched.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  ASSERT_EQ(port->Write(reinterpret_cast<const unsigned char*>(all.data()), all.size(), 5000),
            static_cast<long>(all.size()));
  EXPECT_EQ(ReadMaster(all.size()), all);

  ASSERT_EQ(write(master_, all.data(), all.size()), static_cast<ssize_t>(all.size()));
  std::string received;
  while (received.size() < all.size() && port->WaitEvent(5000) == SerialPort::Event::kReadable) {
    unsigned char chunk[100];
    const long n = port->Read(chunk, sizeof(chunk));
    ASSERT_GE(n, 0);
    received.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
  }
  EXPECT_EQ(received, all);
}

TEST_F(PtyFixture, WaitReportsInterruptTimeoutAndLostPort) {
  Link("com3");
  std::unique_ptr<SerialPort> port = SerialPort::Open("COM3", 115200);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->WaitEvent(0), SerialPort::Event::kTimeout);
  port->Interrupt();
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kInterrupted);
  EXPECT_EQ(port->WaitEvent(0), SerialPort::Event::kTimeout);  // one interrupt wakes one wait

  CloseMaster();
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kLost);
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kLost);  // and stays lost
}

TEST_F(PtyFixture, WriteThatCannotDrainFailsAfterItsTimeOut) {
  Link("com3");
  std::unique_ptr<SerialPort> port = SerialPort::Open("COM3", 115200);
  ASSERT_NE(port, nullptr);
  // Nobody reads the master: the pseudo-terminal's queue fills and the write gives up.
  const std::string big(1 << 20, 'x');
  EXPECT_EQ(port->Write(reinterpret_cast<const unsigned char*>(big.data()), big.size(), 200), -1);
}

TEST(SerialPeer, NamesTheLineCarriesBytesAndHangsUpWhenDestroyed) {
  testing::TempPrefix prefix;
  Status error;
  std::unique_ptr<SerialPort> peer = SerialPort::OpenPeer(7, &error);
  ASSERT_NE(peer, nullptr) << error.message();
  const fs::path link = prefix.path() / "dosdevices" / "com7";
  EXPECT_EQ(fs::read_symlink(link), fs::path(peer->device()));

  std::unique_ptr<SerialPort> port = SerialPort::Open("COM7", 115200, &error);
  ASSERT_NE(port, nullptr) << error.message();
  const std::string frame = "\x02XX0016TRM841\x1c\x03\x21\r\n\x11\x13";
  const auto* bytes = reinterpret_cast<const unsigned char*>(frame.data());
  ASSERT_EQ(peer->Write(bytes, frame.size(), 5000), static_cast<long>(frame.size()));
  ASSERT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  unsigned char got[64];
  ASSERT_EQ(port->Read(got, sizeof(got)), static_cast<long>(frame.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), frame.size()), frame);

  // The port closing does not end the line: the peer sees no hang-up and a new holder may open.
  port.reset();
  EXPECT_EQ(peer->WaitEvent(0), SerialPort::Event::kTimeout);
  port = SerialPort::Open("COM7", 115200, &error);
  ASSERT_NE(port, nullptr) << error.message();

  peer.reset();
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kLost);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

}  // namespace
}  // namespace platform

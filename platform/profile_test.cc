#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

constexpr char kIni[] = "C:\\PM2000V6\\PM2000V6.INI";
constexpr char kGatewaySection[] = "Ordella\xB0\xD4\xC0\xCC\xC6\xAE\xBF\xFE\xC0\xCC";  // CP949
constexpr char kPersonalSection[] = "\xB0\xB3\xC0\xCE\xBA\xB0 \xBC\xB3\xC1\xA4\xB3\xBB\xBF\xEB";

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path dir = prefix_.path() / "drive_c" / "PM2000V6";
    fs::create_directories(dir);
    std::ofstream(dir / "PM2000V6.INI", std::ios::binary)
        << "; settings of the pharmacy program\r\n"
           "[DATAPATH]\r\n"
           "  PATH =  SERVER01  \r\n"
           "PATH=second\r\n"
           "no equals sign here\r\n"
           "["
        << kGatewaySection
        << "]\r\n"
           "PATH=\"10.0.0.5\"\r\n"
           "Empty=\r\n"
           "Quoted=' a b '\r\n"
           "Half=\"x\r\n"
           "Name=\xC6\xC7\xB8\xC5\xB1\xE2\r\n"
           "[datapath]\r\n"
           "EXTRA=only in the second section\r\n"
           "[ "
        << kPersonalSection
        << " ]\r\n"
           "KICC_IP = 192.168.0.10\r\n"
           "KICC_PORT=9100\r\n"
           "Number=  -42abc\r\n"
           "Big=99999999999\r\n"
           "Text=abc\r\n";
  }

  testing::TempPrefix prefix_;
};

TEST_F(ProfileTest, FindsValuesLikeGetPrivateProfileString) {
  struct Case {
    std::string_view section, key, default_value, file, expected;
  };
  const Case cases[] = {
      {"DATAPATH", "PATH", "", kIni, "SERVER01"},
      {"datapath", "path", "", "c:\\pm2000v6\\pm2000v6.ini", "SERVER01"},
      {"DATAPATH", "EXTRA", "dflt", kIni, "dflt"},  // only the first section of a name counts
      {kGatewaySection, "PATH", "", kIni, "10.0.0.5"},
      {kGatewaySection, "Empty", "dflt", kIni, ""},
      {kGatewaySection, "Quoted", "", kIni, " a b "},
      {kGatewaySection, "Half", "", kIni, "\"x"},
      {kGatewaySection, "Name", "", kIni, "\xC6\xC7\xB8\xC5\xB1\xE2"},
      {kPersonalSection, "KICC_IP", "", kIni, "192.168.0.10"},
      {"DATAPATH", "MISSING", "d  ", kIni, "d"},
      {"NOSECTION", "PATH", "dflt", kIni, "dflt"},
      {"DATAPATH", "PATH", "dflt", "c:\\PM2000V6\\absent.ini", "dflt"},
      {"DATAPATH", "PATH", "dflt", "c:\\..\\..\\etc\\passwd", "dflt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadProfileString(c.section, c.key, c.default_value, c.file), c.expected)
        << c.section << "/" << c.key;
  }
}

TEST_F(ProfileTest, CopiesAtMostSizeMinusOneBytes) {
  struct Case {
    std::string_view section, key;
    size_t size;
    std::string_view copied;
  };
  const Case cases[] = {
      {"DATAPATH", "PATH", 16, "SERVER01"},     {"DATAPATH", "PATH", 9, "SERVER01"},
      {"DATAPATH", "PATH", 4, "SER"},           {"DATAPATH", "PATH", 1, ""},
      {kGatewaySection, "Name", 4, "\xC6\xC7"},  // a two-byte character is never split
      {"DATAPATH", "MISSING", 3, "de"},          // the default is bounded too
  };
  for (const Case& c : cases) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    size_t copied = GetPrivateProfileString(c.section, c.key, "default", buffer, c.size, kIni);
    EXPECT_EQ(copied, c.copied.size()) << c.key << " in " << c.size;
    EXPECT_EQ(std::string_view(buffer), c.copied) << c.key << " in " << c.size;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer";
  }
  char untouched = '#';
  EXPECT_EQ(GetPrivateProfileString("DATAPATH", "PATH", "", &untouched, 0, kIni), 0U);
  EXPECT_EQ(untouched, '#');
}

TEST_F(ProfileTest, ReadsLeadingNumbers) {
  struct Case {
    std::string_view key;
    int expected;
  };
  const Case cases[] = {
      {"KICC_PORT", 9100}, {"Number", -42}, {"Big", 7}, {"Text", 7}, {"MISSING", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetPrivateProfileInt(kPersonalSection, c.key, 7, kIni), c.expected) << c.key;
  }
}

}  // namespace
}  // namespace platform

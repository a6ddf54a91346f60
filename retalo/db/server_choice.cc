#include "retalo/db/server_choice.h"

#include <fstream>

#include "platform/prefix.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "retalo/db/log_writer.h"

namespace retalo {
namespace {

constexpr size_t kNameBuffer = 16;       // computer name and settings values are read into this
constexpr size_t kAddressLineMax = 255;  // the part of the address file's first line that is used
constexpr std::string_view kInstance = "PM2005";
constexpr std::string_view kUser = "sa";
constexpr std::string_view kPassword = "Vq7#mL2&xR";
constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

// Upper case of the single-byte letters; the trail bytes of two-byte characters stay.
std::string Upper(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (platform::IsCp949LeadByte(c)) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

std::string ReadIni(std::string_view section, std::string_view key) {
  char buffer[kNameBuffer] = {};
  size_t n = platform::GetPrivateProfileString(section, key, "", buffer, sizeof buffer, kPm2000Ini);
  return std::string(buffer, n);
}

// The trimmed first line of the server's address file; empty when it cannot be read.
std::string ReadAddressFile(const std::string& server) {
  std::optional<std::filesystem::path> path =
      platform::MapPath("\\\\" + server + "\\PM2000V6\\TEMP\\SERVERIP.txt");
  if (!path) return {};
  std::ifstream file(*path, std::ios::binary);
  if (!file) return {};
  std::string line;
  char c = 0;
  while (line.size() < kAddressLineMax && file.get(c) && c != '\n') line += c;
  return Trim(line);
}

}  // namespace

ServerLookup SystemServerLookup() {
  return ServerLookup{
      [] { return platform::ComputerName(); },
      [](const std::string& name) { return platform::ResolveIpv4(name); },
  };
}

std::string ChooseServer(const ServerLookup& lookup) {
  const std::string computer = Upper(platform::CutCp949(lookup.computer_name(), kNameBuffer - 1));
  std::string server = Upper(ReadIni("DATAPATH", "PATH"));
  if (server.empty()) server = computer;
  if (server == computer) return server;

  std::string address = lookup.resolve(server);
  if (address.empty() && ReadIni(Cp949("Ordella게이트웨이"), "PATH").empty()) {
    address = ReadAddressFile(server);
  }
  return address.empty() ? server : address;
}

std::string OdbcConnectionString(std::string_view driver, std::string_view server) {
  if (server.empty() || server.find_first_of(";{}=") != std::string_view::npos ||
      driver.find_first_of(";{}") != std::string_view::npos) {
    return {};
  }
  std::string out;
  out += "DRIVER={" + std::string(driver) + "};";
  out += "SERVER=" + std::string(server) + "\\" + std::string(kInstance) + ";";
  out += "UID=" + std::string(kUser) + ";";
  out += "PWD={" + std::string(kPassword) + "};";
  out += "DATABASE=master;";
  out += "WSID=" + std::string(server);
  return out;
}

}  // namespace retalo

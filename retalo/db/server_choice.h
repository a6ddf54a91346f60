// Which SQL Server the database writer connects to, chosen afresh at every connection from
// this computer's name, PM2000's settings file and the server's address file, and the ODBC
// connection string for it (user "sa", the named instance PM2005, catalogue master).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace retalo {

inline constexpr std::string_view kPm2000Ini = "C:\\PM2000V6\\PM2000V6.INI";

// The outside facts the choice depends on; tests replace them.
struct ServerLookup {
  // This computer's name.
  std::function<std::string()> computer_name;
  // The first IPv4 address of a host name in dotted form, or empty when it does not resolve.
  std::function<std::string(const std::string& name)> resolve;
};

// The real look-ups: the host name and platform::ResolveIpv4.
ServerLookup SystemServerLookup();

// The server to connect to (an upper-case name or an address):
//  1. the configured name ("DATAPATH"/"PATH" of the settings file), or this computer's name
//     when none is configured; both read into 16-byte buffers and compared in upper case;
//  2. this computer's own name when they are equal;
//  3. otherwise the name's address when it resolves;
//  4. otherwise, only when the settings file has no gateway path ("Ordella게이트웨이"/"PATH"),
//     the trimmed first line of "\\<name>\PM2000V6\TEMP\SERVERIP.txt";
//  5. otherwise the name itself.
std::string ChooseServer(const ServerLookup& lookup);

// The ODBC connection string for `server` through `driver`, or empty when the server text
// could change the string's meaning (it holds ';', '{', '}' or '='). Never stored or logged.
std::string OdbcConnectionString(std::string_view driver, std::string_view server);

}  // namespace retalo

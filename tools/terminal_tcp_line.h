// The TCP terminal's link, seen from the terminal: a connection to the hub's TCP terminal port
// that the terminal simulator uses as it uses a serial line. Reads, writes and waits behave as
// the serial line's do; the hub closing the connection is the line being lost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "platform/status.h"

namespace terminal_sim {

// Connects to `address`:`port`; nullptr (with *error) when the hub does not take the connection.
std::unique_ptr<platform::SerialPort> ConnectTcpLine(const std::string& address, uint16_t port,
                                                     platform::Status* error = nullptr);

}  // namespace terminal_sim

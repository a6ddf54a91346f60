// One request to Helvar, as its worker owns it.
#pragma once

#include <cstdint>
#include <string>

namespace helvar {

struct Request {
  int32_t code = 0;
  std::string data;  // the payload, taken as exactly the bytes that came
  std::string aux1;  // empty for requests from the hub; stored with a request put aside
  std::string aux2;  // filled only for requests read from "memorymap"
};

}  // namespace helvar

// Starting programs and loading libraries by their Windows names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform {

// ShellExecute with the verb "open": starts the program detached (fork + exec). A name ending
// in ".exe" starts the program of that name without the extension, searched case-insensitively
// in $ORDELLA_BIN_PATH (colon-separated), the running program's directory, then PATH.
// A Windows path is mapped through the prefix first (a POSIX path is taken as it is). When
// the name itself carries arguments after the program ("C:\PM2000V6\PM_PharmCharge.exe PMMAIN"),
// they come before `args`. True when the program was started (its exec succeeded); the
// program is not a child of the caller, so nothing is left to reap.
bool StartProgram(std::string_view name, const std::vector<std::string>& args = {});

// Whether a process of that id lives (it may belong to another user); false for ids below 1.
bool ProcessAlive(int64_t pid);

// LoadLibrary("X.dll"): dlopen of libX.so found case-insensitively in $ORDELLA_LIB_PATH
// (colon-separated), the running program's directory, then <program dir>/../lib. A name with
// a directory ("%s\UpharmMD.dll") is looked for in that (mapped) directory first.
class Library {
 public:
  virtual ~Library() = default;  // unloads
  // GetProcAddress; nullptr when the library has no such export.
  virtual void* Symbol(std::string_view name) const = 0;
  virtual std::string path() const = 0;

  // nullptr when the library is not found or cannot be loaded; *error says why.
  static std::unique_ptr<Library> Load(std::string_view dll_name, Status* error = nullptr);
};

}  // namespace platform

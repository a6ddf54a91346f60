#include "platform/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

// Sets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) previous_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

void WriteScript(const fs::path& path, const std::string& body) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << body;
  fs::permissions(path, fs::perms::owner_all);
}

// The contents of a file that a started program writes, once it is complete.
std::string WaitForFile(const fs::path& path) {
  std::string text;
  const bool complete = testing::Eventually([&] {
    text = testing::ReadFile(path);
    return text.ends_with("\n");
  });
  return complete ? text : "(never written)";
}

// The started programs write their arguments to $ORDELLA_PREFIX/<name>.txt.
constexpr char kRecorder[] =
    "#!/bin/sh\necho \"$*\" > \"$ORDELLA_PREFIX/$(basename \"$0\").tmp\"\n"
    "mv \"$ORDELLA_PREFIX/$(basename \"$0\").tmp\" "
    "\"$ORDELLA_PREFIX/$(basename \"$0\").txt\"\n";

class StartProgramTest : public ::testing::Test {
 protected:
  fs::path root() const { return prefix_.path(); }
  testing::TempPrefix prefix_;
};

TEST_F(StartProgramTest, StartsTheProgramNamedWithoutItsExtension) {
  WriteScript(root() / "bin" / "Helvar", kRecorder);
  ScopedEnv bin_path("ORDELLA_BIN_PATH",
                     (root() / "none").string() + ":" + (root() / "bin").string());
  ASSERT_TRUE(StartProgram("helvar.EXE", {"first", "second"}));
  EXPECT_EQ(WaitForFile(root() / "Helvar.txt"), "first second\n");
}

TEST_F(StartProgramTest, MapsWindowsPathsAndSplitsWrittenArguments) {
  WriteScript(root() / "drive_c" / "PM2000V6" / "PM_PharmCharge", kRecorder);
  ASSERT_TRUE(StartProgram("C:\\PM2000V6\\pm_pharmcharge.exe PMMAIN", {"more"}));
  EXPECT_EQ(WaitForFile(root() / "PM_PharmCharge.txt"), "PMMAIN more\n");

  WriteScript(root() / "drive_c" / "tavenor" / "helvar", kRecorder);
  ASSERT_TRUE(StartProgram("c:\\TAVENOR\\Helvar.exe"));
  EXPECT_EQ(WaitForFile(root() / "helvar.txt"), "\n");
}

TEST_F(StartProgramTest, LeavesNoChildBehind) {
  WriteScript(root() / "bin" / "sleeper", "#!/bin/sh\nsleep 1\n");
  ASSERT_TRUE(StartProgram((root() / "bin" / "sleeper").string()));
  // The program runs on, but it is not a child of ours, so nothing is left to reap.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(StartProgramTest, FailsWhenNothingCanBeStarted) {
  WriteScript(root() / "bin" / "broken", "#!/nonexistent/interpreter\n");
  std::ofstream(root() / "bin" / "plain") << "not a program\n";
  ScopedEnv bin_path("ORDELLA_BIN_PATH", (root() / "bin").string());
  const std::string_view names[] = {"",      "absent.exe",     "broken.exe",
                                    "plain", "c:\\absent.exe", "c:\\..\\..\\bin\\sh"};
  for (std::string_view name : names) EXPECT_FALSE(StartProgram(name)) << name;
}

// A system library under a Windows-style name stands in for one of the outside libraries.
std::optional<fs::path> SystemZlib() {
  for (const char* dir : {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/usr/lib64",
                          "/lib64", "/usr/lib", "/lib"}) {
    if (fs::exists(fs::path(dir) / "libz.so.1")) return fs::path(dir) / "libz.so.1";
  }
  return std::nullopt;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zlib_ = SystemZlib();
    if (!zlib_) GTEST_SKIP() << "no libz.so.1 on this machine";
  }
  fs::path root() const { return prefix_.path(); }

  testing::TempPrefix prefix_;
  std::optional<fs::path> zlib_;
};

TEST_F(LibraryTest, LoadsADllNameAsItsSharedObject) {
  fs::create_directories(root() / "lib");
  fs::create_symlink(*zlib_, root() / "lib" / "libZLib.so");
  ScopedEnv lib_path("ORDELLA_LIB_PATH", (root() / "lib").string());

  for (std::string_view name : {"zlib.dll", "ZLIB.DLL", "ZLib"}) {
    Status error;
    std::unique_ptr<Library> library = Library::Load(name, &error);
    ASSERT_NE(library, nullptr) << name << ": " << error.message();
    EXPECT_EQ(library->path(), (root() / "lib" / "libZLib.so").string());
    auto version = reinterpret_cast<const char* (*)()>(library->Symbol("zlibVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::string(version()).substr(0, 2), "1.");
    EXPECT_EQ(library->Symbol("NoSuchExport"), nullptr);
  }
}

TEST_F(LibraryTest, LooksInTheNamedDirectoryFirst) {
  fs::create_directories(root() / "drive_c" / "tavenor");
  fs::create_symlink(*zlib_, root() / "drive_c" / "tavenor" / "libupharmmd.so");
  std::unique_ptr<Library> library = Library::Load("c:\\Tavenor\\UpharmMD.dll");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->path(), (root() / "drive_c" / "tavenor" / "libupharmmd.so").string());
}

TEST_F(LibraryTest, ExplainsWhyALibraryCannotBeLoaded) {
  fs::create_directories(root() / "lib");
  std::ofstream(root() / "lib" / "libBroken.so") << "not a library";
  ScopedEnv lib_path("ORDELLA_LIB_PATH", (root() / "lib").string());
  struct Case {
    std::string_view name;
    std::string_view reason;
  };
  const Case cases[] = {
      {"Absent.dll", "libAbsent.so"},
      {"broken.dll", "libBroken.so"},
      {".dll", "no library name"},
      {"c:\\tavenor\\", "no library name"},
  };
  for (const Case& c : cases) {
    Status error;
    EXPECT_EQ(Library::Load(c.name, &error), nullptr) << c.name;
    EXPECT_NE(error.message().find(c.reason), std::string::npos) << c.name << ": " << error.message();
  }
}

}  // namespace
}  // namespace platform

#include "platform/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

constexpr char kTavenor[] = "Software\\Tavenor";

class RegistryTest : public ::testing::Test {
 protected:
  fs::path file() const { return prefix_.path() / "registry.reg"; }

  std::string FileText() const {
    return testing::ReadFile(file());
  }

  void WriteFile(std::string_view text) const { std::ofstream(file(), std::ios::binary) << text; }

  // Dates the registry file back to one fixed day, so a read keeps its parsed form: a version
  // written just now is read again until it is older than a file time tick.
  void AgeFile() const {
    const timespec long_ago{1577836800, 0};
    const timespec times[2] = {long_ago, long_ago};
    ASSERT_EQ(utimensat(AT_FDCWD, file().c_str(), times, 0), 0);
  }

  // Runs `body` in a child process and waits for it; true when it exited with 0.
  static bool InChild(const std::function<bool()>& body) {
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) _exit(body() ? 0 : 1);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  static RegValue Get(std::string_view key, std::string_view name) {
    RegValue value;
    EXPECT_EQ(RegGetValue(key, name, &value), RegStatus::kOk) << name << ": " << RegLastError();
    return value;
  }

  testing::TempPrefix prefix_;
};

TEST_F(RegistryTest, WritesTheExportFormatAndReadsItBack) {
  ASSERT_EQ(RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"), RegStatus::kOk);
  ASSERT_EQ(RegSetDword(kTavenor, "edicode_index", 10), RegStatus::kOk);
  ASSERT_EQ(RegSetString(kTavenor, "", "\xB1\xE2\xBA\xBB"), RegStatus::kOk);  // "기본"
  ASSERT_EQ(RegSetString(kTavenor, "quote\"d", "a\"b\\c"), RegStatus::kOk);

  EXPECT_EQ(FileText(),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavenor]\n"
            "\"edicode_index\"=dword:0000000a\n"
            "@=\"기본\"\n"
            "\"quote\\\"d\"=\"a\\\"b\\\\c\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavenor\\Update]\n"
            "\"path\"=\"c:\\\\tavenor\"\n"
            "\n");

  EXPECT_EQ(Get("software\\TAVENOR\\update", "PATH").text, "c:\\tavenor");
  RegValue index = Get(kTavenor, "Edicode_Index");
  EXPECT_EQ(index.type, RegType::kDword);
  EXPECT_EQ(index.dword, 10U);
  EXPECT_EQ(Get(kTavenor, "").text, "\xB1\xE2\xBA\xBB");
  EXPECT_EQ(Get(kTavenor, "quote\"d").text, "a\"b\\c");
}

TEST_F(RegistryTest, ReplacesAndDeletesValues) {
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "Retalo_AutoDate_0", &value), RegStatus::kNotFound);
  EXPECT_EQ(RegDeleteValue(kTavenor, "Retalo_AutoDate_0"), RegStatus::kNotFound);

  ASSERT_EQ(RegSetDword(kTavenor, "Retalo_AutoDate_0", 7), RegStatus::kOk);
  ASSERT_EQ(RegSetString(kTavenor, "RETALO_AUTODATE_0", "20250102"), RegStatus::kOk);
  value = Get(kTavenor, "Retalo_AutoDate_0");
  EXPECT_EQ(value.type, RegType::kString);
  EXPECT_EQ(value.text, "20250102");
  EXPECT_NE(FileText().find("\"Retalo_AutoDate_0\"=\"20250102\""), std::string::npos)
      << "a replaced value keeps the spelling of its name";

  ASSERT_EQ(RegSetString(kTavenor, "bizno", "1234567890"), RegStatus::kOk);
  EXPECT_EQ(RegDeleteValue(kTavenor, "retalo_autodate_0"), RegStatus::kOk);
  EXPECT_EQ(RegGetValue(kTavenor, "Retalo_AutoDate_0", &value), RegStatus::kNotFound);
  EXPECT_EQ(Get(kTavenor, "bizno").text, "1234567890");
}

TEST_F(RegistryTest, CreatesKeysWithTheirParents) {
  EXPECT_FALSE(RegKeyExists(kTavenor));
  EXPECT_EQ(RegCreateKey("Software\\Tavenor\\Update"), RegStatus::kOk);
  EXPECT_TRUE(RegKeyExists("software"));
  EXPECT_TRUE(RegKeyExists(kTavenor));
  EXPECT_TRUE(RegKeyExists("\\Software\\Tavenor\\Update\\"));
  EXPECT_FALSE(RegKeyExists("Software\\Tav"));
  EXPECT_EQ(RegCreateKey(kTavenor), RegStatus::kOk);
}

// Reads on a machine where nothing has been set up yet leave it as it is; the first change lays
// the prefix.
TEST_F(RegistryTest, ReadsDoNotCreateThePrefixAndTheFirstChangeDoes) {
  const fs::path later = prefix_.path() / "not yet";
  const std::string outer = std::getenv("ORDELLA_PREFIX");
  setenv("ORDELLA_PREFIX", later.c_str(), 1);
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "path", &value), RegStatus::kNotFound);
  EXPECT_FALSE(RegKeyExists(kTavenor));
  EXPECT_FALSE(fs::exists(later));
  EXPECT_EQ(RegSetString(kTavenor, "path", "c:\\tavenor"), RegStatus::kOk);
  EXPECT_TRUE(fs::exists(later / "registry.reg"));
  EXPECT_EQ(RegGetValue(kTavenor, "path", &value), RegStatus::kOk);
  setenv("ORDELLA_PREFIX", outer.c_str(), 1);
}

TEST_F(RegistryTest, KeepsWhatAHandWrittenFileHolds) {
  WriteFile(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\Tavenor]\r\n"
      "\"pharmscreen\" = DWORD:00000001\r\n"
      "\"blob\"=hex:01,02,03,\\\r\n"
      "  04,05\r\n"
      "\"list\"=hex(7):41,00,00,00\r\n"
      "\"bizno\"=\"123\"   \r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
      "\"x\"=\"y\"\r\n");

  EXPECT_TRUE(RegKeyExists("Software"));
  EXPECT_EQ(Get(kTavenor, "pharmscreen").dword, 1U);
  EXPECT_EQ(Get(kTavenor, "bizno").text, "123");
  RegValue blob = Get(kTavenor, "blob");
  EXPECT_EQ(blob.type, RegType::kOther);
  EXPECT_EQ(blob.text, "hex:01,02,03,\\\n  04,05");

  ASSERT_EQ(RegSetString(kTavenor, "bizno", "456"), RegStatus::kOk);
  std::string text = FileText();
  EXPECT_NE(text.find("\"blob\"=hex:01,02,03,\\\n  04,05\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"list\"=hex(7):41,00,00,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"x\"=\"y\"\n"), std::string::npos)
      << text;
  EXPECT_EQ(Get(kTavenor, "bizno").text, "456");
  EXPECT_EQ(Get(kTavenor, "pharmscreen").dword, 1U);
}

TEST_F(RegistryTest, AHexValueAtTheEndOfTheFileSurvivesRewrites) {
  const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software]\n";
  struct Case {
    std::string tail;  // the last value of the file, as written
    std::string data;  // as read back
  };
  const Case cases[] = {
      {"\"n\"=hex:01,\\\n  02", "hex:01,\\\n  02"},
      {"\"n\"=hex:01,\\\r\n  02\r\n", "hex:01,\\\n  02"},
      // Continued onto a blank line: that line is part of the value.
      {"\"n\"=hex:01,\\\n\n", "hex:01,\\\n"},
  };
  for (const Case& c : cases) {
    WriteFile(head + c.tail);
    std::string first_rewrite;
    for (int rewrite = 0; rewrite < 3; ++rewrite) {
      ASSERT_EQ(RegSetString("Software", "x", "1"), RegStatus::kOk) << c.tail << RegLastError();
      EXPECT_EQ(Get("Software", "n").text, c.data) << c.tail << " after rewrite " << rewrite;
      if (rewrite == 0) first_rewrite = FileText();
      EXPECT_EQ(FileText(), first_rewrite) << c.tail << " after rewrite " << rewrite;
    }
  }
}

TEST_F(RegistryTest, RefusesToReadOrRewriteACorruptFile) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string key = "[HKEY_CURRENT_USER\\Software\\Tavenor]\n\"ok\"=\"1\"\n";
  struct Case {
    std::string text;
    int bad_line;
  };
  const Case cases[] = {
      {"REGEDIT4\n\n" + key, 1},
      {header + "\"ok\"=\"1\"\n", 3},
      {header + key + "\"path\"=\"c:\\tavenor\"\n", 5},
      {header + key + "\"open\"=\"no end\n", 5},
      {header + key + "\"x\"=\"1\" junk\n", 5},
      {header + key + "\"n\"=dword:123456789\n", 5},
      {header + key + "\"n\"=dword:\n", 5},
      {header + key + "\"n\"=qword:1\n", 5},
      {header + key + "\"n\"=-\n", 5},
      {header + key + "\"n\"=hex:zz\n", 5},
      {header + key + "\"\"=\"empty name\"\n", 5},
      {header + key + "\"n\"=\"\xFF\"\n", 5},
      {header + "[-HKEY_CURRENT_USER\\Software]\n", 3},
      {header + "[HKEY_CURRENT_USER\\Software\n", 3},
      // A hex value continued past the end of the file, with or without a last line end.
      {"Windows Registry Editor Version 5.00\n[r]\n\"n\"=hex:\\", 3},
      {header + key + "\"n\"=hex:01,\\\n  02,\\\n", 5},
  };
  for (const Case& c : cases) {
    WriteFile(c.text);
    RegValue value;
    EXPECT_EQ(RegGetValue(kTavenor, "ok", &value), RegStatus::kCorrupt) << c.text;
    std::string error = RegLastError();
    EXPECT_NE(error.find(file().string()), std::string::npos) << error;
    EXPECT_NE(error.find("line " + std::to_string(c.bad_line)), std::string::npos) << error;

    EXPECT_EQ(RegSetString(kTavenor, "new", "x"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(RegDeleteValue(kTavenor, "ok"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(RegCreateKey("Software\\New"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(FileText(), c.text) << "a corrupt file must stay as it is";
  }
}

TEST_F(RegistryTest, ATextWithoutCp949FormIsReportedAndKept) {
  WriteFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Tavenor]\n"
      "\"smile\"=\"\xF0\x9F\x98\x80\"\n");
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "smile", &value), RegStatus::kCorrupt);
  EXPECT_NE(RegLastError().find("smile"), std::string::npos);
  ASSERT_EQ(RegSetDword(kTavenor, "other", 1), RegStatus::kOk);
  EXPECT_NE(FileText().find("\"smile\"=\"\xF0\x9F\x98\x80\"\n"), std::string::npos);
}

TEST_F(RegistryTest, RefusesNamesAndTextsTheFileCannotHold) {
  EXPECT_EQ(RegSetString(kTavenor, "multi", "line\nbreak"), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetString(kTavenor, "nul", std::string_view("a\0b", 3)),
            RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetString(kTavenor, "bad", "\xFF"), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("Software\\\\Tavenor", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("Software\\[x]", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword(kTavenor, "new\nline", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegCreateKey("\\"), RegStatus::kInvalidArgument);
  EXPECT_FALSE(fs::exists(file()));
}

// Several processes change the registry at once: every value of every writer survives, and
// a reader never meets a half-written file.
TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 40;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        std::string key = std::string(kTavenor) + "\\W" + std::to_string(writer % 2);
        if (RegSetDword(key, name, static_cast<uint32_t>(writer * 1000 + i)) != RegStatus::kOk) {
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    for (int i = 0; i < 200; ++i) {
      RegValue value;
      RegStatus status = RegGetValue(kTavenor, "absent", &value);
      if (status != RegStatus::kNotFound) _exit(1);
    }
    _exit(0);
  }
  children.push_back(reader);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kValuesEach; ++i) {
      std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
      std::string key = std::string(kTavenor) + "\\W" + std::to_string(writer % 2);
      EXPECT_EQ(Get(key, name).dword, static_cast<uint32_t>(writer * 1000 + i)) << name;
    }
  }
}

// Reads keep the parsed file while it is the same version; every other version is read anew,
// whoever wrote it and however.
TEST_F(RegistryTest, AReadSeesEveryNewVersionOfTheFile) {
  // No file yet; then another process creates it.
  RegValue missing;
  EXPECT_EQ(RegGetValue(kTavenor, "bizno", &missing), RegStatus::kNotFound);
  EXPECT_EQ(RegGetValue(kTavenor, "bizno", &missing), RegStatus::kNotFound);
  ASSERT_TRUE(InChild([] { return RegSetString(kTavenor, "bizno", "111") == RegStatus::kOk; }));
  EXPECT_EQ(Get(kTavenor, "bizno").text, "111");
  AgeFile();
  EXPECT_EQ(Get(kTavenor, "bizno").text, "111");
  EXPECT_EQ(Get(kTavenor, "bizno").text, "111");  // from the kept version

  // Another process replaces the file.
  ASSERT_TRUE(InChild([] { return RegSetString(kTavenor, "bizno", "222") == RegStatus::kOk; }));
  EXPECT_EQ(Get(kTavenor, "bizno").text, "222");
  AgeFile();
  EXPECT_EQ(Get(kTavenor, "bizno").text, "222");

  // The same file rewritten in place with a corrupt text, then dated like the kept version:
  // only its size tells it apart.
  const std::string good = FileText();
  struct stat before{};
  ASSERT_EQ(stat(file().c_str(), &before), 0);
  WriteFile(good + "junk\n");
  AgeFile();
  struct stat after{};
  ASSERT_EQ(stat(file().c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  for (int read = 0; read < 2; ++read) {
    RegValue value;
    EXPECT_EQ(RegGetValue(kTavenor, "bizno", &value), RegStatus::kCorrupt) << "read " << read;
    EXPECT_NE(RegLastError().find(file().string()), std::string::npos) << RegLastError();
    EXPECT_FALSE(RegKeyExists(kTavenor));
  }

  // Mended by another process writing the good text back in place.
  ASSERT_TRUE(InChild([&] {
    std::ofstream(file(), std::ios::binary) << good;
    return true;
  }));
  EXPECT_EQ(Get(kTavenor, "bizno").text, "222");

  // Removed: no keys.
  AgeFile();
  EXPECT_EQ(Get(kTavenor, "bizno").text, "222");
  fs::remove(file());
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "bizno", &value), RegStatus::kNotFound);
  EXPECT_FALSE(RegKeyExists(kTavenor));
}

// Threads read while another thread of the same process and another process write: a reader
// never meets a missing or half-written value, and each sees the writers' last values.
TEST_F(RegistryTest, ThreadsReadWhileOthersWrite) {
  constexpr uint32_t kWrites = 60;
  ASSERT_EQ(RegSetDword(kTavenor, "thread", 0), RegStatus::kOk);
  ASSERT_EQ(RegSetDword(kTavenor, "process", 0), RegStatus::kOk);
  AgeFile();
  EXPECT_EQ(Get(kTavenor, "thread").dword, 0U);

  // The other process starts before any thread does.
  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    for (uint32_t i = 1; i <= kWrites; ++i) {
      if (RegSetDword(kTavenor, "process", i) != RegStatus::kOk) _exit(1);
    }
    _exit(0);
  }
  std::atomic<bool> writing{true};
  std::atomic<int> faults{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      uint32_t last = 0;
      while (writing.load()) {
        RegValue value;
        if (RegGetValue(kTavenor, "thread", &value) != RegStatus::kOk || value.dword < last) {
          ++faults;
          return;
        }
        last = value.dword;
        if (RegGetValue(kTavenor, "process", &value) != RegStatus::kOk) {
          ++faults;
          return;
        }
      }
    });
  }
  for (uint32_t i = 1; i <= kWrites; ++i) {
    ASSERT_EQ(RegSetDword(kTavenor, "thread", i), RegStatus::kOk) << RegLastError();
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Readers must catch up with both writers' last values.
  EXPECT_TRUE(testing::Eventually([&] {
    RegValue thread_value;
    RegValue process_value;
    return RegGetValue(kTavenor, "thread", &thread_value) == RegStatus::kOk &&
           RegGetValue(kTavenor, "process", &process_value) == RegStatus::kOk &&
           thread_value.dword == kWrites && process_value.dword == kWrites;
  }));
  writing = false;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(faults.load(), 0);
  // Once the last version has aged, reads keep it and still give the last values.
  AgeFile();
  EXPECT_EQ(Get(kTavenor, "thread").dword, kWrites);
  EXPECT_EQ(Get(kTavenor, "process").dword, kWrites);
}

}  // namespace
}  // namespace platform

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "companions/util/ordella_util.h"
#include "platform/testing/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

// Every line of every daily file in `log_folder` (a run may cross midnight).
std::vector<std::string> LogLines(const fs::path& log_folder) {
  std::vector<std::string> lines;
  if (!fs::exists(log_folder)) return lines;
  for (const fs::directory_entry& entry : fs::directory_iterator(log_folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

std::string Payload(int writer, int sequence) {
  return "w" + std::to_string(writer) + "#" + std::to_string(sequence) + "|" +
         std::string(1500, static_cast<char>('a' + writer % 26));
}

int Log(const std::string& directory, const std::string& tag, const std::string& data) {
  return UtilWriteLog(directory.c_str(), tag.c_str(), data.data(), static_cast<int>(data.size()),
                      1);
}

const std::regex kHead(R"(^\[(\d{4})-(\d{2})-(\d{2}) \d{2}:\d{2}:\d{2}\.\d{3}\]\[(\d+)\]\[)");

TEST(WriteLog, OneLinePerRecordInTheDailyFileWithControlBytesEscaped) {
  platform::testing::TempPrefix prefix;
  const char bytes[] = "\x02XX0014TRM835\x1C\x00\xB0\xA1\\\n\x03";
  const std::string data(bytes, sizeof bytes - 1);
  ASSERT_EQ(Log("c:\\tavenor", "BarCodeRead", data), 1);
  ASSERT_EQ(Log("c:\\tavenor\\", "Second", ""), 1);

  const fs::path folder = prefix.path() / "drive_c" / "tavenor" / "Log";
  const std::vector<std::string> lines = LogLines(folder);
  ASSERT_EQ(lines.size(), 2u);
  std::smatch head;
  ASSERT_TRUE(std::regex_search(lines[0], head, kHead)) << lines[0];
  EXPECT_EQ(head[4].str(), std::to_string(getpid()));
  EXPECT_EQ(lines[0].substr(static_cast<size_t>(head.length(0))),
            "BarCodeRead] \\x02XX0014TRM835\\x1C\\x00\xB0\xA1\\\\\\x0A\\x03");
  EXPECT_TRUE(lines[1].ends_with("[Second] ")) << lines[1];
  // The file is named by the record's date.
  const fs::path file = folder / (head[1].str() + head[2].str() + head[3].str() + ".log");
  EXPECT_TRUE(fs::exists(file)) << file;
}

TEST(WriteLog, PosixDirectoryIsTakenAsItIs) {
  platform::testing::TempPrefix prefix;
  const fs::path directory = prefix.path() / "posix install";
  ASSERT_EQ(Log(directory.string(), "Tag", "data"), 1);
  const std::vector<std::string> lines = LogLines(directory / "Log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("[Tag] data")) << lines[0];
}

TEST(WriteLog, WritesNothingWhenOffOrWithoutDirectory) {
  platform::testing::TempPrefix prefix;
  const char data[] = "data";
  struct Case {
    const char* directory;
    const void* data;
    int length;
    int flag;
  };
  const Case cases[] = {
      {"c:\\tavenor", data, 4, 0},  {nullptr, data, 4, 1},          {"", data, 4, 1},
      {"c:\\tavenor", data, -1, 1}, {"c:\\tavenor", nullptr, 4, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UtilWriteLog(c.directory, "Tag", c.data, c.length, c.flag), 0);
  }
  EXPECT_FALSE(fs::exists(prefix.path() / "drive_c" / "tavenor" / "Log"));
}

// Writers in several processes and threads log long records at once; every line must come
// out whole, and each writer's records in its own order.
TEST(WriteLog, RecordsNeverInterleaveAcrossThreadsAndProcesses) {
  platform::testing::TempPrefix prefix;
  const std::string directory = "c:\\tavenor";
  constexpr int kProcesses = 4;
  constexpr int kThreads = 4;
  constexpr int kRecords = 150;
  auto write_all = [&](int writer) {
    for (int i = 0; i < kRecords; ++i) Log(directory, "Writer", Payload(writer, i));
  };

  // The children are forked before any thread starts, then all write together.
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      write_all(p);
      _exit(0);
    }
    children.push_back(child);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(write_all, kProcesses + t);
  for (std::thread& thread : threads) thread.join();
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::vector<std::string> lines = LogLines(prefix.path() / "drive_c" / "tavenor" / "Log");
  EXPECT_EQ(lines.size(), static_cast<size_t>((kProcesses + kThreads) * kRecords));
  std::map<int, int> next_sequence;
  for (const std::string& line : lines) {
    std::smatch head;
    ASSERT_TRUE(std::regex_search(line, head, kHead)) << line.substr(0, 80);
    const std::string body = line.substr(static_cast<size_t>(head.length(0)));
    ASSERT_TRUE(body.starts_with("Writer] w")) << body.substr(0, 80);
    std::istringstream numbers(body.substr(9));
    int writer = -1;
    int sequence = -1;
    char hash = 0;
    numbers >> writer >> hash >> sequence;
    ASSERT_EQ(body, "Writer] " + Payload(writer, sequence));
    EXPECT_EQ(sequence, next_sequence[writer]++) << "writer " << writer;
  }
  EXPECT_EQ(next_sequence.size(), static_cast<size_t>(kProcesses + kThreads));
}

}  // namespace

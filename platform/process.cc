#include "platform/process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>

#include "platform/prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

constexpr std::string_view kProgramSuffix = ".exe";
constexpr std::string_view kLibrarySuffix = ".dll";

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         NamesEqualIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view WithoutSuffix(std::string_view name, std::string_view suffix) {
  return EndsWithIgnoringCase(name, suffix) ? name.substr(0, name.size() - suffix.size()) : name;
}

// The directories of a colon-separated list such as $PATH; empty entries are skipped.
std::vector<fs::path> SearchDirs(const char* variable) {
  std::vector<fs::path> dirs;
  const char* value = std::getenv(variable);
  if (value == nullptr) return dirs;
  std::string_view list = value;
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty()) dirs.emplace_back(dir);
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return dirs;
}

bool IsRegularFile(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsProgram(const fs::path& path) {
  return IsRegularFile(path) && access(path.c_str(), X_OK) == 0;
}

// The first of `names` found, in any case, in the first directory that has one.
std::optional<fs::path> FindIn(const std::vector<fs::path>& dirs,
                               const std::vector<std::string_view>& names,
                               bool (*usable)(const fs::path&)) {
  for (const fs::path& dir : dirs) {
    for (std::string_view name : names) {
      std::optional<fs::path> found = FindEntryIgnoringCase(dir, name);
      if (found && usable(*found)) return found;
    }
  }
  return std::nullopt;
}

bool HasDirectory(std::string_view name) {
  return name.find_first_of("\\/") != std::string_view::npos ||
         (name.size() >= 2 && name[1] == ':');
}

// The program file a Windows program name stands for: "X.exe" is the program X.
std::optional<fs::path> FindProgram(std::string_view name) {
  std::vector<std::string_view> names = {WithoutSuffix(name, kProgramSuffix)};
  if (names[0].size() != name.size()) names.push_back(name);
  if (!HasDirectory(name)) {
    std::vector<fs::path> dirs = SearchDirs("ORDELLA_BIN_PATH");
    dirs.push_back(ProgramDir());
    for (fs::path& dir : SearchDirs("PATH")) dirs.push_back(std::move(dir));
    return FindIn(dirs, names, IsProgram);
  }
  std::optional<fs::path> mapped = ResolvePath(name);
  if (!mapped || !mapped->has_filename()) return std::nullopt;
  std::string file = mapped->filename().string();
  names = {WithoutSuffix(file, kProgramSuffix), file};
  return FindIn({mapped->parent_path()}, names, IsProgram);
}

// Splits arguments written after the program name ("C:\x\Run.exe PMMAIN") at blanks.
std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> words;
  size_t start = 0;
  while ((start = text.find_first_not_of(" \t", start)) != std::string_view::npos) {
    size_t end = text.find_first_of(" \t", start);
    words.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return words;
}

ssize_t ReadRetrying(int fd, void* buffer, size_t size) {
  ssize_t count;
  do {
    count = read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// Starts the program in a grandchild so that it belongs to no one here: the child exits at
// once and is reaped below, the grandchild is adopted by init. The exec result comes back
// through a close-on-exec pipe: end of file means the program runs.
bool Spawn(const fs::path& program, const std::vector<std::string>& args) {
  std::string program_text = program.string();
  std::vector<char*> argv;
  argv.push_back(program_text.data());
  std::vector<std::string> arg_copies = args;
  for (std::string& arg : arg_copies) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int result_pipe[2];
  if (pipe2(result_pipe, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child == 0) {
    // Between fork and exec only async-signal-safe calls are made.
    if (fork() == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction default_action {};
      default_action.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &default_action, nullptr);
      sigaction(SIGCHLD, &default_action, nullptr);
      execv(argv[0], argv.data());
      int error = errno;
      (void)!write(result_pipe[1], &error, sizeof error);
      _exit(127);
    }
    _exit(0);
  }
  close(result_pipe[1]);
  bool started = false;
  if (child > 0) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int exec_error = 0;
    started = ReadRetrying(result_pipe[0], &exec_error, sizeof exec_error) == 0;
  }
  close(result_pipe[0]);
  return started;
}

class DynamicLibrary final : public Library {
 public:
  DynamicLibrary(void* handle, fs::path path) : handle_(handle), path_(std::move(path)) {}
  ~DynamicLibrary() override { dlclose(handle_); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  void* Symbol(std::string_view name) const override {
    return dlsym(handle_, std::string(name).c_str());
  }
  std::string path() const override { return path_.string(); }

 private:
  void* handle_;
  fs::path path_;
};

void SetError(Status* error, StatusCode code, std::string text) {
  if (error != nullptr) *error = Status(code, std::move(text));
}

}  // namespace

bool ProcessAlive(int64_t pid) {
  if (pid < 1 || pid > std::numeric_limits<pid_t>::max()) return false;
  // Signal 0 only checks: EPERM means the process is there but not ours.
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool StartProgram(std::string_view name, const std::vector<std::string>& args) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return false;
  if (std::optional<fs::path> program = FindProgram(name)) return Spawn(*program, args);
  // "C:\PM2000V6\PM_PharmCharge.exe PMMAIN": the program's own arguments follow its name.
  for (size_t at = 0; (at = name.find(' ', at)) != std::string_view::npos; ++at) {
    std::string_view head = name.substr(0, at);
    if (!EndsWithIgnoringCase(head, kProgramSuffix)) continue;
    if (std::optional<fs::path> program = FindProgram(head)) {
      std::vector<std::string> all_args = SplitArguments(name.substr(at));
      all_args.insert(all_args.end(), args.begin(), args.end());
      return Spawn(*program, all_args);
    }
  }
  return false;
}

std::unique_ptr<Library> Library::Load(std::string_view dll_name, Status* error) {
  size_t separator = dll_name.find_last_of("\\/");
  std::string_view base =
      separator == std::string_view::npos ? dll_name : dll_name.substr(separator + 1);
  std::string_view stem = WithoutSuffix(base, kLibrarySuffix);
  if (stem.empty() || dll_name.find('\0') != std::string_view::npos) {
    SetError(error, StatusCode::kInvalidArgument, "no library name in \"" + std::string(dll_name) + "\"");
    return nullptr;
  }
  std::string file = "lib" + std::string(stem) + ".so";

  // A library named with its directory is looked for there first.
  std::vector<fs::path> dirs;
  if (separator != std::string_view::npos) {
    if (std::optional<fs::path> dir = ResolvePath(dll_name.substr(0, separator + 1))) {
      dirs.push_back(*dir);
    }
  }
  for (fs::path& dir : SearchDirs("ORDELLA_LIB_PATH")) dirs.push_back(std::move(dir));
  dirs.push_back(ProgramDir());
  dirs.push_back(ProgramDir().parent_path() / "lib");

  std::optional<fs::path> found = FindIn(dirs, {file}, IsRegularFile);
  if (!found) {
    SetError(error, StatusCode::kIoError, file + " not found for \"" + std::string(dll_name) + "\"");
    return nullptr;
  }
  void* handle = dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    SetError(error, StatusCode::kIoError, reason != nullptr ? reason : "cannot load " + found->string());
    return nullptr;
  }
  return std::make_unique<DynamicLibrary>(handle, *found);
}

}  // namespace platform

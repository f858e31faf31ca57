// Runs a program with its standard input on a pipe that stays open: the given
// bytes are put into the pipe before the program starts, and the pipe is
// closed only when a file appears (or the hang guard runs out). Usage:
//
//   console_pipe_probe RESULT_FILE GO_FILE HEX PROGRAM [ARGUMENT...]
//
// Records "started" when the program runs and "done" when it has ended.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr auto kLongestWait = std::chrono::seconds(120);

void record(const char* path, const std::string& line) {
  if (FILE* file = std::fopen(path, "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

std::string unhex(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return out;
}

void await_file(const char* path) {
  const auto give_up = std::chrono::steady_clock::now() + kLongestWait;
  while (std::chrono::steady_clock::now() < give_up) {
    if (FILE* file = std::fopen(path, "rb")) {
      std::fclose(file);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  const char* result = argv[1];
  const char* go = argv[2];
  const std::string bytes = unhex(argv[3]);
#ifdef _WIN32
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) return 3;
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  if (!bytes.empty())
    WriteFile(write_end, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  std::string command_line;
  for (int i = 4; i < argc; ++i) command_line += std::string(i > 4 ? " " : "") + argv[i];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 4;
  }
  CloseHandle(read_end);
  record(result, "started");
  await_file(go);
  CloseHandle(write_end);
  WaitForSingleObject(process.hProcess, INFINITE);
#else
  int ends[2];
  if (pipe(ends) != 0) return 3;
  if (!bytes.empty() && write(ends[1], bytes.data(), bytes.size()) < 0) return 3;
  const pid_t child = fork();
  if (child < 0) return 4;
  if (child == 0) {
    dup2(ends[0], 0);
    close(ends[0]);
    close(ends[1]);
    execv(argv[4], argv + 4);
    _exit(127);
  }
  close(ends[0]);
  record(result, "started");
  await_file(go);
  close(ends[1]);
  int status = 0;
  waitpid(child, &status, 0);
#endif
  record(result, "done");
  return 0;
}

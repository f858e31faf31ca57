// A small program on the console services alone, driven by the console
// tests. Usage:
//
//   console_probe RESULT_FILE STEP...
//
// The steps run in order between console_start and console_stop. Results are
// appended to RESULT_FILE, one record per line ("name value", texts in hex),
// so a test can read them without anything extra reaching the screen.
//
//   say:TEXT      print_text(TEXT)            sayhex:HEX  print_text(bytes)
//   show:HEX      print_text(printable(bytes))
//   end           print_line_end()
//   line          read_line()      -> "line HEX"      lines:N   N times line
//                 (and "stopped" after it when the keys stopped the typing)
//   key           wait_key()       -> "key HEX"       keys:N    N times key
//   readkey       read_key()       -> "readkey HEX"
//   waiting       key_waiting()    -> "waiting -1|0"
//   until-key     polls key_waiting() until a key waits -> "waiting -1"
//   take:HEX,N    take_waiting_keys(bytes) until N keys are taken -> "taken HEX"
//   flush         flush_keys()     -> "flushed"
//   row           cursor_row()     -> "row N"
//   move:C,R      move_cursor(C, R) -> "moved"
//   progress:TEXT show_progress_row(TEXT)     blank-row  clear_progress_row()
//   progresses:N  show_progress_row("row I" and dots to 100 characters), I 1 to N
//   mark:NAME     -> "mark NAME"
//   await:PATH    waits until the file PATH exists -> "go"
//   stop / start  console_stop() / console_start()
//   exit          leaves through exit() without console_stop
//   abort         abort()
//   crash         a write into read-only memory
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/console.h"
#include "console/printable.h"
#include "console/progress_row.h"

namespace {

// Hang guard for the waiting steps; a test never relies on it.
constexpr auto kLongestWait = std::chrono::seconds(120);

const char* result_path = nullptr;

void record(const std::string& line) {
  if (FILE* file = std::fopen(result_path, "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

std::string hex(const Text& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : text) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

Text unhex(const std::string& digits) {
  Text out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return out;
}

bool file_exists(const char* path) {
  if (FILE* file = std::fopen(path, "rb")) {
    std::fclose(file);
    return true;
  }
  return false;
}

void pause_briefly() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void run_step(const std::string& step) {
  const size_t colon = step.find(':');
  const std::string name = step.substr(0, colon);
  const std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);
  const int count = argument.empty() ? 1 : std::atoi(argument.c_str());
  if (name == "say") {
    print_text(argument);
  } else if (name == "sayhex") {
    print_text(unhex(argument));
  } else if (name == "show") {
    print_text(printable(unhex(argument)));
  } else if (name == "end") {
    print_line_end();
  } else if (name == "line" || name == "lines") {
    for (int i = 0; i < count; ++i) {
      bool stopped = false;
      record("line " + hex(read_line(stopped)));
      if (stopped) record("stopped");
    }
  } else if (name == "key" || name == "keys") {
    for (int i = 0; i < count; ++i) record("key " + hex(wait_key()));
  } else if (name == "readkey") {
    record("readkey " + hex(read_key()));
  } else if (name == "waiting") {
    record("waiting " + std::to_string(key_waiting()));
  } else if (name == "until-key") {
    const auto give_up = std::chrono::steady_clock::now() + kLongestWait;
    while (key_waiting() == 0 && std::chrono::steady_clock::now() < give_up) pause_briefly();
    record("waiting " + std::to_string(key_waiting()));
  } else if (name == "take") {
    const size_t comma = argument.find(',');
    const Text wanted = unhex(argument.substr(0, comma));
    const size_t count = static_cast<size_t>(std::atoi(argument.substr(comma + 1).c_str()));
    const auto give_up = std::chrono::steady_clock::now() + kLongestWait;
    Text taken;
    while (taken.size() < count && std::chrono::steady_clock::now() < give_up) {
      taken += take_waiting_keys(wanted);
      pause_briefly();
    }
    record("taken " + hex(taken));
  } else if (name == "flush") {
    flush_keys();
    record("flushed");
  } else if (name == "row") {
    record("row " + std::to_string(cursor_row()));
  } else if (name == "move") {
    const size_t comma = argument.find(',');
    move_cursor(std::atoi(argument.substr(0, comma).c_str()),
                std::atoi(argument.substr(comma + 1).c_str()));
    record("moved");
  } else if (name == "progress") {
    show_progress_row(argument);
  } else if (name == "progresses") {
    for (int i = 1; i <= count; ++i) {
      Text row = "row " + std::to_string(i);
      row.resize(100, '.');
      show_progress_row(row);
    }
  } else if (name == "blank-row") {
    clear_progress_row();
  } else if (name == "mark") {
    record("mark " + argument);
  } else if (name == "await") {
    const auto give_up = std::chrono::steady_clock::now() + kLongestWait;
    while (!file_exists(argument.c_str()) && std::chrono::steady_clock::now() < give_up) {
      pause_briefly();
    }
    record("go");
  } else if (name == "stop") {
    console_stop();
  } else if (name == "start") {
    console_start();
  } else if (name == "exit") {
    record("exiting");
    std::exit(0);
  } else if (name == "abort") {
    record("aborting");
    std::abort();
  } else if (name == "crash") {
    record("crashing");
    // A store into read-only memory: a real fault that no sanitizer stops first.
    static const char kReadOnly[] = "constant";
    volatile char* place = const_cast<volatile char*>(kReadOnly);
    place[0] = 'x';
  } else {
    record("unknown " + step);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  result_path = argv[1];
  console_start();
  for (int i = 2; i < argc; ++i) run_step(argv[i]);
  console_stop();
  record("done");
  return 0;
}

#include "console/terminal_mode_posix.h"

#include <errno.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Signals whose default action ends the process (SIGPIPE aside, which the
// console ignores): the terminal is restored before that action takes place.
// The real-time signals, which also end it, are added at run time.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS};

struct TerminalMode {
  int keyboard = -1;
  // Terminal settings: the user's, to restore, and ours while running.
  termios saved{};
  termios raw{};
  volatile sig_atomic_t raw_wanted = 0;
  volatile sig_atomic_t* resumed = nullptr;
  bool handlers_installed = false;
  bool took_ending[NSIG]{};  // by signal number
  struct sigaction previous_ending[NSIG] {};
  struct sigaction previous_stop {};
  struct sigaction previous_continue {};
  bool took_stop = false;
  bool took_continue = false;
};

TerminalMode mode;

termios raw_settings(const termios& user) {
  termios raw = user;
  // Every key comes as its byte: Ctrl+C 3, Ctrl+Z 26, Ctrl+S 19, Enter 13.
  raw.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  raw.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
  // Output bytes go out as written: the program writes CR LF itself.
  raw.c_oflag &= ~(ONLCR | OCRNL | ONOCR | ONLRET | TABDLY);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Sets the terminal's settings; safe inside a signal handler. SIGTTOU is held
// back so that a process no longer in the foreground is not stopped for it.
void set_terminal(const termios& settings) {
  const int saved_errno = errno;
  sigset_t hold;
  sigset_t previous;
  sigemptyset(&hold);
  sigaddset(&hold, SIGTTOU);
  sigprocmask(SIG_BLOCK, &hold, &previous);
  while (tcsetattr(mode.keyboard, TCSANOW, &settings) < 0 && errno == EINTR) {
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  errno = saved_errno;
}

// The user's settings again, only while the terminal is still ours: once
// another process group holds its foreground (the program was stopped and
// continued in the background), the settings are that program's to keep.
void give_back_terminal() {
  const int saved_errno = errno;
  if (mode.keyboard >= 0 && tcgetpgrp(mode.keyboard) == getpgrp()) set_terminal(mode.saved);
  errno = saved_errno;
}

// Raw input given up for good. The flag goes first, so that a SIGCONT
// arriving during the restore cannot switch raw input on again after it.
void end_raw_input() {
  if (!mode.raw_wanted) return;
  mode.raw_wanted = 0;
  give_back_terminal();
}

// Raw input again, when the program owns the terminal (in the foreground).
// Bytes typed while it was in line mode come with no notice: look again.
void resume_raw_input() {
  if (!mode.raw_wanted || mode.keyboard < 0) return;
  const int saved_errno = errno;
  if (tcgetpgrp(mode.keyboard) == getpgrp()) set_terminal(mode.raw);
  if (mode.resumed != nullptr) *mode.resumed = 1;
  errno = saved_errno;
}

void restore_at_exit() {
  end_raw_input();
}

bool ends_the_process(int signal_number) {
  if (signal_number >= SIGRTMIN && signal_number <= SIGRTMAX) return true;
  for (int ending : kEndingSignals) {
    if (ending == signal_number) return true;
  }
  return false;
}

// Whoever sent the signal (another process, the kernel for a closed
// terminal, a fault of the program itself), it is raised again under its
// previous action, which is pending until this handler returns and then ends
// the process as it would have without the mode.
void on_ending_signal(int signal_number, siginfo_t*, void*) {
  end_raw_input();
  if (signal_number > 0 && signal_number < NSIG) {
    sigaction(signal_number, &mode.previous_ending[signal_number], nullptr);
  }
  raise(signal_number);
}

void on_stop_signal(int) {
  const int saved_errno = errno;
  if (mode.raw_wanted) give_back_terminal();
  struct sigaction ours;
  struct sigaction stop_default {};
  stop_default.sa_handler = SIG_DFL;
  sigemptyset(&stop_default.sa_mask);
  sigaction(SIGTSTP, &stop_default, &ours);
  sigset_t stop_set;
  sigset_t previous;
  sigemptyset(&stop_set);
  sigaddset(&stop_set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop_set, &previous);
  raise(SIGTSTP);  // the process stops here until it is continued
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGTSTP, &ours, nullptr);
  resume_raw_input();
  errno = saved_errno;
}

void on_continue_signal(int) {
  resume_raw_input();
}

bool takes_over(int signal_number, struct sigaction& previous, bool only_default) {
  if (sigaction(signal_number, nullptr, &previous) != 0) return false;
  if (previous.sa_handler == SIG_IGN && !(previous.sa_flags & SA_SIGINFO)) return false;
  if (only_default && (previous.sa_handler != SIG_DFL || (previous.sa_flags & SA_SIGINFO))) {
    return false;
  }
  return true;
}

void install_signal_handlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  action.sa_sigaction = on_ending_signal;
  for (int number = 1; number < NSIG; ++number) {
    if (!ends_the_process(number)) continue;
    mode.took_ending[number] = takes_over(number, mode.previous_ending[number], false);
    if (mode.took_ending[number]) sigaction(number, &action, nullptr);
  }
  struct sigaction simple {};
  sigemptyset(&simple.sa_mask);
  simple.sa_flags = SA_RESTART;
  simple.sa_handler = on_stop_signal;
  mode.took_stop = takes_over(SIGTSTP, mode.previous_stop, true);
  if (mode.took_stop) sigaction(SIGTSTP, &simple, nullptr);
  simple.sa_handler = on_continue_signal;
  mode.took_continue = takes_over(SIGCONT, mode.previous_continue, true);
  if (mode.took_continue) sigaction(SIGCONT, &simple, nullptr);
  mode.handlers_installed = true;
}

void remove_signal_handlers() {
  if (!mode.handlers_installed) return;
  for (int number = 1; number < NSIG; ++number) {
    if (mode.took_ending[number]) sigaction(number, &mode.previous_ending[number], nullptr);
    mode.took_ending[number] = false;
  }
  if (mode.took_stop) sigaction(SIGTSTP, &mode.previous_stop, nullptr);
  if (mode.took_continue) sigaction(SIGCONT, &mode.previous_continue, nullptr);
  mode.handlers_installed = false;
}

}  // namespace

bool take_terminal(int keyboard) {
  if (tcgetpgrp(keyboard) != getpgrp() || tcgetattr(keyboard, &mode.saved) != 0) return false;
  mode.keyboard = keyboard;
  return true;
}

void start_raw_input(volatile sig_atomic_t* resumed) {
  if (mode.keyboard < 0) return;
  mode.resumed = resumed;
  mode.raw = raw_settings(mode.saved);
  install_signal_handlers();
  static bool exit_hook_set = false;
  if (!exit_hook_set) exit_hook_set = atexit(restore_at_exit) == 0;
  mode.raw_wanted = 1;
  resume_raw_input();
}

void stop_raw_input() {
  end_raw_input();
  remove_signal_handlers();
  mode.resumed = nullptr;
  mode.keyboard = -1;
}

// How every file and directory call is made on Windows: with the system's
// critical-error dialogs off, so that a missing medium or an unready drive
// comes back as a failed call, and with the last error cleared before the
// call and read right after it.
#pragma once

#include <windows.h>

template <typename Call>
auto guarded_call(Call call, DWORD& last_error) {
  const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetLastError(0);
  auto result = call();
  last_error = GetLastError();
  SetErrorMode(previous_mode);
  return result;
}

// A call that returns a success flag: it failed when the flag is false or
// the call left an error behind.
template <typename Call>
bool guarded_ok(Call call) {
  DWORD last_error = 0;
  const BOOL ok = guarded_call(call, last_error);
  return ok && last_error == 0;
}

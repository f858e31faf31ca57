// How a run ends after one of its failure messages.
#pragma once

// In a fresh console: "Press a key to exit." and one key (a key typed ahead
// counts). Otherwise nothing more.
void failure_exit(bool fresh_console);

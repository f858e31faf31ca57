// How many processors this process may run on.
#pragma once

// The processors the process may run on (its affinity), at least 1.
unsigned processor_count();

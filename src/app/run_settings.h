// What one run works with, filled from the command line and the prompts.
#pragma once

#include "text/text.h"

struct RunSettings {
  Text infile;                 // the archive's path, exactly as typed
  Text outdir;                 // ends in the separator once the path checks have passed
  Text start_at;               // from startat=prefix; emptied once a member has matched
  Text only;                   // from only=prefix
  bool fresh_console = false;  // set once, before the banner
};

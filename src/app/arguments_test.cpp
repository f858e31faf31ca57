#include "app/arguments.h"

#include <gtest/gtest.h>

namespace {

struct FieldsCase {
  const char* tail;
  const char* infile;
  const char* outdir;
  const char* start_at;
  const char* only;
};

TEST(ReadCommandFields, SplitsAtSingleSpacesAndReadsTheOption) {
  const FieldsCase cases[] = {
      {"", "", "", "", ""},
      {"a.tar", "a.tar", "", "", ""},
      {"a.tar d:\\out\\", "a.tar", "d:\\out\\", "", ""},
      {"a.tar  d:\\out", "a.tar", "", "", ""},  // two spaces: outdir empty, field 3 ignored
      {"a.tar /out/ startat=data/", "a.tar", "/out/", "data/", ""},
      {"a.tar /out/ only=docs", "a.tar", "/out/", "", "docs"},
      {"a.tar /out/ only=x=y", "a.tar", "/out/", "", "x=y"},  // after the first "="
      {"a.tar /out/ startat=k=v/=", "a.tar", "/out/", "k=v/=", ""},
      {"a.tar /out/ only==", "a.tar", "/out/", "", "="},
      {"a.tar /out/ Only=x", "a.tar", "/out/", "", ""},
      {"a.tar /out/ STARTAT=x", "a.tar", "/out/", "", ""},
      {"a.tar /out/ startat", "a.tar", "/out/", "", ""},
      {"a.tar /out/ startat=", "a.tar", "/out/", "", ""},
      {"a.tar /out/ only=a b", "a.tar", "/out/", "", "a"},  // fourth field dropped
      {"a.tar /out/  only=x", "a.tar", "/out/", "", ""},    // option is field 4
      {"\"c:\\my files\\a.tar\" d:\\", "\"c:\\my", "files\\a.tar\"", "", ""},
  };
  for (const FieldsCase& c : cases) {
    const RunSettings settings = read_command_fields(c.tail);
    EXPECT_EQ(settings.infile, c.infile) << c.tail;
    EXPECT_EQ(settings.outdir, c.outdir) << c.tail;
    EXPECT_EQ(settings.start_at, c.start_at) << c.tail;
    EXPECT_EQ(settings.only, c.only) << c.tail;
    EXPECT_FALSE(settings.fresh_console);
  }
}

}  // namespace

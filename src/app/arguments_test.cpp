#include "app/arguments.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct FieldsCase {
  std::vector<Text> fields;
  bool taken;
  const char* start_at;
  const char* only;
};

TEST(ReadCommandFields, TakesThePathsAndOneOption) {
  const FieldsCase cases[] = {
      {{}, true, "", ""},
      {{"a.tar"}, true, "", ""},
      {{"a.tar", "/out/"}, true, "", ""},
      {{"a.tar", "/out/", "startat=data/"}, true, "data/", ""},
      {{"a.tar", "/out/", "only=docs"}, true, "", "docs"},
      {{"a.tar", "/out/", "only=x=y"}, true, "", "x=y"},  // after the first "="
      {{"a.tar", "/out/", "startat=k=v/="}, true, "k=v/=", ""},
      {{"a.tar", "/out/", "only=="}, true, "", "="},
      {{"a.tar", "/out/", "only=a b"}, true, "", "a b"},
      // An empty prefix, or an empty third field, is no option.
      {{"a.tar", "/out/", "startat="}, true, "", ""},
      {{"a.tar", "/out/", "only="}, true, "", ""},
      {{"a.tar", "/out/", ""}, true, "", ""},
      // Anything else in the third field, and any fourth field, is refused.
      {{"a.tar", "/out/", "Only=x"}, false, "", ""},
      {{"a.tar", "/out/", "STARTAT=x"}, false, "", ""},
      {{"a.tar", "/out/", "startat"}, false, "", ""},
      {{"a.tar", "/out/", "only:docs/"}, false, "", ""},
      {{"a.tar", "/out/", "\"only=docs/\""}, false, "", ""},
      {{"a.tar", "/out/", " only=x"}, false, "", ""},
      {{"a.tar", "/out/", "/more/"}, false, "", ""},
      {{"a.tar", "/out/", "only=docs/", "x"}, false, "", ""},
      {{"a.tar", "/out/", "", ""}, false, "", ""},
  };
  for (const FieldsCase& c : cases) {
    const Text shown = ::testing::PrintToString(c.fields);
    RunSettings settings;
    EXPECT_EQ(read_command_fields(c.fields, settings), c.taken) << shown;
    EXPECT_EQ(settings.infile, c.fields.size() > 0 ? c.fields[0] : "") << shown;
    EXPECT_EQ(settings.outdir, c.fields.size() > 1 ? c.fields[1] : "") << shown;
    if (!c.taken) continue;
    EXPECT_EQ(settings.start_at, c.start_at) << shown;
    EXPECT_EQ(settings.only, c.only) << shown;
  }
}

}  // namespace

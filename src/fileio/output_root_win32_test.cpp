#include <gtest/gtest.h>
#include <windows.h>

#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/test_files.h"

namespace {

constexpr int32_t kOutput = 2;

class OutputRootWin32Test : public FileServiceTest {
 protected:
  void TearDown() override {
    set_output_root("");
    FileServiceTest::TearDown();
  }
};

// However the output directory is spelled ("/" or "\", a final separator or
// none, trailing dots, a long path), a file made below it holds its parent
// levels open: no one can rename them while files are made in them.
TEST_F(OutputRootWin32Test, HeldLevelsCannotBeRenamedWhateverTheSpelling) {
  const Text out = dir.at("out");
  const Text deep = out + "\\" + Text(200, 'd') + "\\" + Text(200, 'e');
  make_directory(out);
  make_directory(out + "\\" + Text(200, 'd'));
  make_directory(deep);
  struct Case {
    Text root;
    Text held;  // a level below the root
  };
  Text slashed = out;
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  const Case cases[] = {
      {out + "\\", out + "\\sub"},     // as the path checks leave it
      {out, out + "\\sub"},            // without its final separator
      {slashed + "/", out + "\\sub"},  // "/" for "\"
      {slashed, out + "\\sub"},        // "/" without the final one
      {out + ". \\", out + "\\sub"},   // trailing dots and spaces
      {deep + "\\", deep + "\\sub"},   // a long path
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    set_output_root(c.root);
    make_directory(c.held);
    open_output(c.held + "\\a.txt", kOutput);
    write_text(kOutput, "data");
    EXPECT_EQ(get_position(kOutput), 5);
    close_file(kOutput);
    const std::wstring from = L"\\\\?\\" + std::wstring(c.held.begin(), c.held.end());
    const std::wstring to = from + L"-moved";
    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Released once the output directory is set again: then it can move.
    set_output_root("");
    EXPECT_TRUE(MoveFileExW(from.c_str(), to.c_str(), 0));
    EXPECT_TRUE(MoveFileExW(to.c_str(), from.c_str(), 0));
  }
}

}  // namespace

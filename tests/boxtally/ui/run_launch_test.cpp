#include "boxtally/ui/run_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
using Args = std::vector<std::string>;

ui::RunInputs Inputs() {
  ui::RunInputs in;
  in.models = "objects/*.zip";
  in.temporary_format = "/tmp/work/myregxxx.$$$";
  in.registry = "myreg.txt";
  return in;
}
}  // namespace

TEST(RunArguments, FollowTheRunButtonsForm) {
  struct Case {
    const char* name;
    void (*change)(ui::RunInputs&);
    Args expected;
  };
  const Case cases[] = {
      {"defaults: five entries, the bare registry name appends",
       [](ui::RunInputs&) {},
       {"boxtally", "objects/*.zip", "/tmp/work/myregxxx.$$$", "-r", "myreg.txt"}},
      {"a password makes six, -s directly in front",
       [](ui::RunInputs& in) { in.password = "se cret"; },
       {"boxtally", "objects/*.zip", "/tmp/work/myregxxx.$$$", "-r", "-sse cret", "myreg.txt"}},
      {"appending off: -o directly in front",
       [](ui::RunInputs& in) { in.append_registry = false; },
       {"boxtally", "objects/*.zip", "/tmp/work/myregxxx.$$$", "-r", "-omyreg.txt"}},
      {"a format file named replaces the temporary one",
       [](ui::RunInputs& in) { in.format_file = "my format.txt"; },
       {"boxtally", "objects/*.zip", "my format.txt", "-r", "myreg.txt"}},
      {"a bare registry name with a dash stays a file name",
       [](ui::RunInputs& in) { in.registry = "-reg.txt"; },
       {"boxtally", "objects/*.zip", "/tmp/work/myregxxx.$$$", "-r", "./-reg.txt"}},
      {"after -o a dash is already part of the name",
       [](ui::RunInputs& in) {
         in.registry = "-reg.txt";
         in.append_registry = false;
       },
       {"boxtally", "objects/*.zip", "/tmp/work/myregxxx.$$$", "-r", "-o-reg.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::RunInputs in = Inputs();
    c.change(in);
    const ui::RunArguments run = ui::BuildRunArguments(in);
    EXPECT_EQ(run.too_long, ui::RunField::kNone);
    EXPECT_EQ(run.args, c.expected);
  }
}

TEST(RunArguments, RefuseAnArgumentOverFiveHundredElevenBytes) {
  struct Case {
    const char* name;
    void (*change)(ui::RunInputs&, std::size_t);
    std::size_t fits;  // the longest text that still fits
    ui::RunField field;
  };
  const Case cases[] = {
      {"models", [](ui::RunInputs& in, std::size_t n) { in.models.assign(n, 'm'); }, 511,
       ui::RunField::kModels},
      {"format file", [](ui::RunInputs& in, std::size_t n) { in.format_file.assign(n, 'f'); }, 511,
       ui::RunField::kFormatFile},
      {"password, with its -s",
       [](ui::RunInputs& in, std::size_t n) { in.password.assign(n, 'p'); }, 509,
       ui::RunField::kPassword},
      {"registry, appending", [](ui::RunInputs& in, std::size_t n) { in.registry.assign(n, 'r'); },
       511, ui::RunField::kRegistry},
      {"registry, with its -o",
       [](ui::RunInputs& in, std::size_t n) {
         in.registry.assign(n, 'r');
         in.append_registry = false;
       },
       509, ui::RunField::kRegistry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::RunInputs in = Inputs();
    c.change(in, c.fits);
    EXPECT_EQ(ui::BuildRunArguments(in).too_long, ui::RunField::kNone);
    c.change(in, c.fits + 1);
    const ui::RunArguments run = ui::BuildRunArguments(in);
    EXPECT_EQ(run.too_long, c.field);
    EXPECT_TRUE(run.args.empty());
  }
  // Bytes count, not characters: 256 accented letters are 512 bytes.
  ui::RunInputs in = Inputs();
  for (int i = 0; i < 256; ++i) in.models += "é";
  EXPECT_EQ(ui::BuildRunArguments(in).too_long, ui::RunField::kModels);
}

TEST(TemporaryFormat, EndsEveryLineWithCrLf) {
  TempDir dir;
  const std::string path = dir / "myregxxx.$$$";
  struct Case {
    const char* text;
    const char* bytes;
  };
  const Case cases[] = {
      {"<ffile> 1", "<ffile> 1\r\n"},
      {"a\n\tb", "a\r\n\tb\r\n"},
      {"a\n", "a\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(ui::WriteTemporaryFormat(path, c.text));
    EXPECT_EQ(ReadFile(path), c.bytes);
  }
  EXPECT_FALSE(ui::WriteTemporaryFormat(dir / "missing/myregxxx.$$$", "x"));
  EXPECT_FALSE(ui::WriteTemporaryFormat("/dev/full", "x"));  // the write itself fails
}

TEST(ModelsChoice, GivesAPatternOnlyWhenItMatchesExactlyTheChosenFiles) {
  TempDir dir;
  for (const char* name : {"a.zip", "B.ZIP", "c.rwx"}) WriteFile(dir / name, "x");
  const std::string a = dir / "a.zip", b = dir / "B.ZIP", c = dir / "c.rwx";
  EXPECT_EQ(ui::ModelsTextForChoice({}), "");
  EXPECT_EQ(ui::ModelsTextForChoice({c}), c);
  EXPECT_EQ(ui::ModelsTextForChoice({b, a}), dir / "*.ZIP");
  EXPECT_EQ(ui::ModelsTextForChoice({a, c}), a);  // two kinds: no one pattern
  WriteFile(dir / "d.zip", "x");
  EXPECT_EQ(ui::ModelsTextForChoice({a, b}), a);  // *.zip would measure d.zip too
}

TEST(DialogStart, IsTheBoxsFolderWhenItExistsWithTheBoxsName) {
  TempDir dir;
  std::filesystem::create_directory(dir / "objects");
  const std::string work = dir.path();  // the run's working folder
  const std::string objects = dir / "objects/";
  struct Case {
    std::string box;
    std::string folder;  // empty: the dialog keeps its last folder
    std::string name;
  };
  const Case cases[] = {
      {"", "", ""},
      {"myreg.txt", work + "/", "myreg.txt"},  // a bare name is in the working folder
      {"objects/*.zip", objects, "*.zip"},     // relative to the working folder
      {objects + "tree.rwx", objects, "tree.rwx"},
      {objects, objects, ""},              // a folder with no name after it
      {"missing/reg.txt", "", "reg.txt"},  // no such folder: the last one shown
      {dir / "objects/tree.rwx/x.log", "", "x.log"},
      {"/reg.txt", "/", "reg.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    const ui::DialogStart start = ui::DialogStartFor(c.box, work);
    EXPECT_EQ(start.folder, c.folder);
    EXPECT_EQ(start.name, c.name);
  }
}

TEST(ModelsDialog, TakesATypedNameAsItIsUnlessItNamesAFile) {
  TempDir dir;
  WriteFile(dir / "tree.zip", "x");
  std::filesystem::create_directory(dir / "sub");
  struct Case {
    std::string typed;
    bool exists;
  };
  const Case cases[] = {
      {"", true},
      {"tree.zip", true},
      {"sub", true},  // a folder: the dialog goes into it
      {dir / "tree.zip", true},
      {"\"tree.zip\" \"rock.zip\"", true},  // several chosen from the list
      {"*.zip", false},
      {"rock.zip", false},
      {dir / "rock.zip", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(ui::TypedNamesExist(dir.path(), c.typed), c.exists);
  }
}

// Which models of a run a registry already holds: where the template puts the name, and the
// lines of a registry matched against the names a run's files and list entries give.
#include "boxtally/driver/registry_overlap.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/temp_dir.h"

using driver::NamePlace;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(RegistryOverlap, TheTemplateTellsWhereTheNameStands) {
  struct Case {
    const char* text;
    std::optional<NamePlace> place;
  };
  const Case cases[] = {
      {"<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n", NamePlace{"", ' '}},
      {"# my objects\r\nname=<ffile>;<fvert>\r\n", NamePlace{"name=", ';'}},
      {"<ffile>\n<ftext>\n", NamePlace{"", '\n'}},
      {"<fvert> <ffile>\n", std::nullopt},   // a number of any width before it
      {"<ffile%-20s> 1\n", std::nullopt},    // an own format
      {"<ffile><fvert>\n", std::nullopt},    // nothing tells where the name ends
      {"<fleft> <fright>\n", std::nullopt},  // no name at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<NamePlace> place = driver::FindNamePlace(c.text);
    ASSERT_EQ(place.has_value(), c.place.has_value());
    if (!place) continue;
    EXPECT_EQ(place->before, c.place->before);
    EXPECT_EQ(place->after, c.place->after);
  }
}

TEST(RegistryOverlap, CountsTheRunsModelsThatHaveALineAlready) {
  TempDir dir;
  for (const char* name : {"tree.rwx", "My Box.RWX", "chair.zip", "lamp.zip", "seat.cob"}) {
    WriteFile(dir / name, "");
  }
  const std::string box = " 1 -995 -995 -995 995 995 995\r\n";
  const std::string registry = dir / "reg.txt";
  WriteFile(registry, "tree.rwx" + box + "tree.rwx" + box +  // twice: one model
                          "my box.rwx" + box +               // a blank in the name
                          "chair.cob" + box +                // the archive held a COB model
                          "seat.rwx" + box +                 // a COB model never gives rwx
                          "other.rwx" + box + "lamp.rwx1" + box + "# lamp.rwx" + box);
  const driver::RunModelNames models = driver::FileModelNames(dir / "*.*");
  EXPECT_EQ(driver::CountModelsInRegistry(registry, {"", ' '}, models), 3u);
  EXPECT_EQ(driver::CountModelsInRegistry(registry, {"# ", ' '}, models), 1u);  // lamp
  EXPECT_EQ(driver::CountModelsInRegistry(registry, {"# ", '\n'}, models), 0u);
  EXPECT_EQ(driver::CountModelsInRegistry(dir / "none.txt", {"", ' '}, models), 0u);

  // The run's own arguments: only a run that appends to a registry that is there asks.
  const std::string format = "<ffile> 1 <fleft>\n";
  const std::string list = dir / "list.txt";
  WriteFile(list, "# a list\nlamp.rwx\nchair.rwx\tthe green one\n");
  struct Case {
    std::vector<std::string> args;
    bool web;
    std::size_t count;
  };
  const Case cases[] = {
      {{"boxtally", dir / "*.*", "fmt", "-r", registry}, false, 3},
      {{"boxtally", dir / "*.*", "fmt", "-r", "-o" + registry}, false, 0},
      {{"boxtally", dir / "*.*", "fmt", "-r", dir / "new.txt"}, false, 0},
      {{"boxtally", dir / "*.*", "fmt", "-r"}, false, 0},    // standard output
      {{"boxtally", list, "fmt", "-r", registry}, true, 1},  // chair, not lamp.rwx1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    EXPECT_EQ(driver::ModelsAlreadyInRegistry(c.args, format, c.web, false), c.count);
  }
}

#include "boxtally/rwx/prototype_table.h"

#include <gtest/gtest.h>

namespace rwx {
namespace {

TEST(PrototypeTable, FindsOnlyClosedDefinitionsWithTheExactName) {
  PrototypeTable table;
  InitPrototypeTable(table);
  OpenDefinition(table, "door");
  EXPECT_EQ(FindPrototype(table, "door"), -1);  // still open
  table.count = 1;
  OpenDefinition(table, "doorway");
  table.count = 2;
  EXPECT_EQ(FindPrototype(table, "door"), 0);
  EXPECT_EQ(FindPrototype(table, "doorway"), 1);
  EXPECT_EQ(FindPrototype(table, "doo"), -1);
  EXPECT_EQ(FindPrototype(table, ""), -1);
  table.definitions[0].name.clear();  // emptied by a redefinition
  EXPECT_EQ(FindPrototype(table, ""), -1);
  EXPECT_EQ(FindPrototype(table, "door"), -1);
}

TEST(PrototypeTable, ClearEmptiesOnlyWhatWasUsed) {
  PrototypeTable table;
  InitPrototypeTable(table);
  ASSERT_EQ(table.definitions.size(), static_cast<std::size_t>(kMaxPrototypes));
  for (int i = 0; i < 3; ++i) {
    OpenDefinition(table, "p").points.push_back(Point4{});
    ++table.count;
  }
  EXPECT_EQ(table.used, 3);
  table.count = 0;  // as "modelbegin" does: the entries stay until reused or cleared
  EXPECT_EQ(table.used, 3);
  ClearPrototypeTable(table);
  EXPECT_EQ(table.used, 0);
  EXPECT_EQ(table.count, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(table.definitions[static_cast<std::size_t>(i)].name.empty());
    EXPECT_TRUE(table.definitions[static_cast<std::size_t>(i)].points.empty());
  }
}

TEST(PrototypeTable, EmptyOpenDefinitionLeavesNothingFindable) {
  PrototypeTable table;
  InitPrototypeTable(table);
  OpenDefinition(table, "old");
  table.count = 0;  // a new model reuses index 0
  EmptyOpenDefinition(table);
  table.count = 1;
  EXPECT_EQ(FindPrototype(table, "old"), -1);
}

}  // namespace
}  // namespace rwx

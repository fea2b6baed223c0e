#include "boxtally/rwx/model_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "rwx_test_support.h"

namespace rwx {
namespace {

void SetBox(ModelRecord& r, float x0, float y0, float z0, float x1, float y1, float z1) {
  r.box.min = {x0, y0, z0};
  r.box.max = {x1, y1, z1};
}

TEST(ExtendBox, StartValuesYieldToPointsInsideThem) {
  Box box;
  ExtendBox(box, Point4{1.0f, 2.0f, 3.0f, 1.0f});
  EXPECT_EQ(box.min, (std::array<float, 3>{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(box.max, (std::array<float, 3>{1.0f, 2.0f, 3.0f}));

  Box far;
  ExtendBox(far, Point4{150.0f, 0.0f, 0.0f, 1.0f});
  EXPECT_EQ(far.min[0], 100.0f);  // beyond the start value: the minimum keeps it
  EXPECT_EQ(far.max[0], 150.0f);
}

TEST(AddTexture, KeepsEachNameOnceAndSkipsNull) {
  ModelRecord r;
  AddTexture(r, "woodfloor\n");
  AddTexture(r, "wood\n");  // occurs inside woodfloor
  AddTexture(r, "woodfloor\n");
  AddTexture(r, "NULL\n");
  AddTexture(r, "nullify\n");
  AddTexture(r, "stone mask stonem\n");
  AddTexture(r, "floor\n");  // found across the text, inside woodfloor
  AddTexture(r, "\n");
  EXPECT_EQ(r.texture_list, "woodfloor,stone");
  EXPECT_EQ(r.mask_list, "stonem");
}

TEST(AddTexture, MaskIsTheSecondWordAfterTheNameAndIgnoredForKnownTextures) {
  ModelRecord r;
  AddTexture(r, "a mask m1\n");
  AddTexture(r, "a mask m2\n");     // texture known: the mask is not looked at
  AddTexture(r, "b tag 5 mask\n");  // "mask" occurs: the second word after the name is "5"
  AddTexture(r, "c mask\n");        // no mask name: nothing
  EXPECT_EQ(r.texture_list, "a,b,c");
  EXPECT_EQ(r.mask_list, "m1,5");
}

TEST(AddTexture, ComparesOnlyTheFirst64CharactersAndDropsNamesThatDoNotFit) {
  ModelRecord r;
  const std::string base(64, 'x');
  AddTexture(r, base + "a\n");
  AddTexture(r, base + "b\n");  // its first 64 characters are in the list
  EXPECT_EQ(r.texture_list, base + "a");

  ModelRecord full;
  std::string expected;
  for (int i = 0; i < 2047 / 11; ++i) {  // names of 10 characters plus a comma
    char name[16];
    std::snprintf(name, sizeof name, "t%09d", i);
    AddTexture(full, std::string(name) + "\n");
    expected += (i == 0 ? "" : ",") + std::string(name);
  }
  ASSERT_EQ(full.texture_list, expected);
  ASSERT_EQ(full.texture_list.size(), 2045u);
  AddTexture(full, "t999999999\n");  // 11 more would make 2056: dropped whole
  AddTexture(full, "z\n");           // 2 more make 2047: fits
  EXPECT_EQ(full.texture_list, expected + ",z");
}

TEST(AddColour, SumsTruncatedProductsAndAveragesByCount) {
  ModelRecord r;
  AddColour(r, 1.0f, 0.0f, 0.5f);
  EXPECT_EQ(r.colour_sums, (std::array<std::int64_t, 3>{255, 0, 127}));
  AddColour(r, 0.0f, 1.0f, 0.5f);
  AverageColours(r);
  EXPECT_EQ(r.colour_sums, (std::array<std::int64_t, 3>{127, 127, 127}));
  EXPECT_EQ(r.colour_count, 2);
}

TEST(SetAxisAlignment, OnlyZorientyMakesAFacer) {
  ModelRecord r;
  SetAxisAlignment(r, "zorienty", true);
  EXPECT_TRUE(r.facer);
  EXPECT_TRUE(r.facer_widening);
  SetAxisAlignment(r, "zorienty", false);
  EXPECT_TRUE(r.facer);
  EXPECT_FALSE(r.facer_widening);
  SetAxisAlignment(r, "zorientxz", true);
  EXPECT_FALSE(r.facer);
  EXPECT_FALSE(r.facer_widening);
}

TEST(ComputeInsetBox, MovesInwardBy5AndKeepsAtLeast10) {
  Box box;
  box.min = {-1.0f, 0.0f, 0.5f};
  box.max = {3.0f, 0.0f, 0.5f};
  const InsetBox inset = ComputeInsetBox(box);
  EXPECT_EQ(inset.lo[0], -995);
  EXPECT_EQ(inset.hi[0], 2995);
  EXPECT_EQ(inset.lo[1], -5);  // 5 and -5 swapped
  EXPECT_EQ(inset.hi[1], 5);
  EXPECT_EQ(inset.lo[2], 495);  // 505 and 495 swapped, then widened to 10 apart
  EXPECT_EQ(inset.hi[2], 505);
}

TEST(FinishBox, NonCenteredMakesTheBoxSymmetricOrOnlyFlagsIt) {
  rwx_test::FakeSwitches sw;
  ModelRecord r;
  SetBox(r, -1.0f, 0.0f, -1.0f, 3.0f, 1.0f, 1.0f);
  EXPECT_FALSE(FinishBox(r, &sw));
  EXPECT_TRUE(r.not_centred);
  EXPECT_EQ(r.box.min[0], -1.0f);  // switch off: the box stays

  sw.non_centered = true;
  EXPECT_FALSE(FinishBox(r, &sw));
  EXPECT_TRUE(r.not_centred);
  EXPECT_EQ(r.box.min[0], -3.0f);
  EXPECT_EQ(r.box.max[0], 3.0f);
  EXPECT_EQ(r.box.min[1], 0.0f);  // y is never centred

  SetBox(r, -4.0f, 0.0f, -1.0f, 2.0f, 1.0f, 1.0f);
  FinishBox(r, &sw);
  EXPECT_EQ(r.box.min[0], -4.0f);
  EXPECT_EQ(r.box.max[0], 4.0f);
  FinishBox(r, &sw);  // a second template line sees the centred box
  EXPECT_FALSE(r.not_centred);
}

TEST(FinishBox, FacersGetASquareFootprint) {
  rwx_test::FakeSwitches sw;
  sw.handle_facers = true;
  ModelRecord r;
  SetBox(r, -1.0f, 0.0f, -3.0f, 1.0f, 2.0f, 3.0f);
  r.facer_widening = true;
  FinishBox(r, &sw);
  EXPECT_EQ(r.box.min, (std::array<float, 3>{-3.0f, 0.0f, -3.0f}));
  EXPECT_EQ(r.box.max, (std::array<float, 3>{3.0f, 2.0f, 3.0f}));

  sw.handle_facers = false;  // the switch is read at the model end as well
  SetBox(r, -1.0f, 0.0f, -3.0f, 1.0f, 2.0f, 3.0f);
  FinishBox(r, &sw);
  EXPECT_EQ(r.box.min[0], -1.0f);
}

TEST(FinishBox, HugeOnlyWithSkipHugeObjectsAndOversizeOnlyWithOverSized) {
  rwx_test::FakeSwitches sw;
  ModelRecord r;
  SetBox(r, 0.0f, 0.0f, 0.0f, 25.0f, 1.0f, 1.0f);
  EXPECT_FALSE(FinishBox(r, &sw));
  EXPECT_FALSE(r.huge);
  sw.skip_huge = true;
  EXPECT_TRUE(FinishBox(r, &sw));

  ModelRecord wide;
  SetBox(wide, -0.75f, 0.0f, -0.5f, 0.75f, 1.0f, 0.5f);  // 1.5 wide in x
  FinishBox(wide, &sw);
  EXPECT_FALSE(wide.oversized);
  sw.oversized = true;
  FinishBox(wide, &sw);
  EXPECT_TRUE(wide.oversized);                          // inset 1490 > 1415
  SetBox(wide, -0.7f, 0.0f, -0.5f, 0.71f, 1.0f, 0.5f);  // inset 1400: not oversized
  FinishBox(wide, &sw);
  EXPECT_FALSE(wide.oversized);
  // Centring can make it oversized: x -0.2..1.2 becomes -1.2..1.2, 2400 thousandths.
  sw.non_centered = true;
  SetBox(wide, -0.2f, 0.0f, -0.5f, 1.2f, 1.0f, 0.5f);
  FinishBox(wide, &sw);
  EXPECT_TRUE(wide.oversized);
}

TEST(TruncToInt, CutsTowardZeroAndSaturates) {
  EXPECT_EQ(TruncToInt(-2.7), -2);
  EXPECT_EQ(TruncToInt(2.7), 2);
  EXPECT_EQ(TruncToInt(1e300), 9007199254740992LL);
  EXPECT_EQ(TruncToInt(-1e300), -9007199254740992LL);
  EXPECT_EQ(TruncToInt(std::nan("")), 0);
}

}  // namespace
}  // namespace rwx

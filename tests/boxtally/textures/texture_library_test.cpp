#include "boxtally/textures/texture_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/temp_dir.h"
#include "textures/texture_test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using namespace texture_testing;

TEST(TextureNames, StandForTheirFilesAndNeverForAPathOutOfTheFolder) {
  struct Case {
    std::string name;
    std::vector<std::string> files;
  };
  const std::vector<std::string> wood = {"wood.jpg", "wood.jpeg", "wood.png",
                                         "wood.bmp", "wood.gif",  "wood.zip"};
  const Case cases[] = {
      {"wood", wood},
      {"WOOD", wood},
      {"Leaf.PNG", {"leaf.png"}},  // the name carries its extension: that file alone
      {"bark.zip", {"bark.zip"}},
      {"wood.old",
       {"wood.old.jpg", "wood.old.jpeg", "wood.old.png", "wood.old.bmp", "wood.old.gif",
        "wood.old.zip"}},
      {std::string(250, 'x'), {}},  // filled in below: the longest name that still fits
      {std::string(251, 'x'), {}},  // NAME.jpeg would pass 255 bytes
      {"", {}},
      {"../wood", {}},
      {"a..b", {}},
      {"tex/wood", {}},
      {"tex\\wood", {}},
      {"wo\x7Fod", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 20));
    std::vector<std::string> want = c.files;
    if (c.name.size() == 250) {
      want = {c.name + ".jpg", c.name + ".jpeg", c.name + ".png",
              c.name + ".bmp", c.name + ".gif",  c.name + ".zip"};
    }
    EXPECT_EQ(textures::TextureFileNames(c.name), want);
    EXPECT_EQ(textures::IsPlainTextureName(c.name), !want.empty());
  }
}

TEST(TextureNames, SiblingWebFolderOfAnObjectPathAndTheirUrls) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/op/models", "http://h/op/textures/"},
      {"http://h/op/models/", "http://h/op/textures/"},
      {"https://h:8443/a/b/c//", "https://h:8443/a/b/textures/"},
      {"http://h/models", "http://h/textures/"},
      {"http://h/", ""},  // the server's root has no parent
      {"http://h", ""},
      {"not a url", ""},
  };
  for (const auto& [url, sibling] : cases) {
    SCOPED_TRACE(url);
    EXPECT_EQ(textures::SiblingTexturesUrl(url), sibling);
  }
  // A '%' of a name is a '%', never the start of an encoded "../".
  EXPECT_EQ(textures::TextureUrl("http://h/t/", "%2e%2e%2fkey.jpg"), "http://h/t/%252e%252e%252fkey.jpg");
  EXPECT_EQ(textures::TextureUrl("http://h/t/", "old oak#2.png"), "http://h/t/old%20oak%232.png");
}

// An object path as world builders lay it out: models/ beside textures/, with pictures of every
// kind the lookup meets.
class TextureLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    std::filesystem::create_directories(dir_ / "op/models");
    std::filesystem::create_directories(dir_ / "op/textures");
    const Picture picture = MakePicture(4, 2, 8);
    ASSERT_FALSE(Convert(dir_, picture, "", "JPEG", "op/textures/Wood.JPG").empty());
    ASSERT_FALSE(Convert(dir_, picture, "", "PNG", "bark.png").empty());
    ASSERT_FALSE(Convert(dir_, picture, "", "GIF", "op/models/leaf.gif").empty());
    const std::string zips =
        "cd '" + dir_.path() + "' && zip -q -X op/textures/bark.zip bark.png" +
        " && cp bark.png locked.png && zip -q -X -P secret " +
        "op/textures/locked.zip locked.png && mkdir t && cp bark.png t/tree.rwx" +
        " && cd t && zip -q -X ../op/models/tree.zip tree.rwx";
    ASSERT_EQ(std::system(zips.c_str()), 0);
    WriteFile(dir_ / "op/textures/bad.png", "\x89PNG\r\n\x1A\n not really");
  }

  textures::TextureLibrary Library(const std::string& password = "") {
    textures::TexturePlaces places;
    places.folders = {{dir_ / "op/textures/", true}, {dir_ / "op/models/", false}};
    places.password = password;
    return textures::TextureLibrary(places);
  }

  TempDir dir_;
};

TEST_F(TextureLibraryTest, FindsEachKindAndTellsWhatTheFoldersLack) {
  struct Case {
    const char* name;
    bool found;  // decoded
    bool lacks;  // no file for it
  };
  const Case cases[] = {
      {"wood", true, false},     {"WOOD", true, false},
      {"wood.jpg", true, false}, {"bark", true, false},
      {"leaf", true, false},     // the models' folder's own pictures
      {"bad", false, false},     // there, but no picture: drawn as missing, not said missing
      {"locked", false, false},  // an archive needing the password
      {"tree", false, true},     // a model's archive in the models' folder is no texture
      {"nothere", false, true},  {"../textures/wood", false, true},
  };
  textures::TextureLibrary library = Library();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::shared_ptr<const render::Texture> image = library.Find(c.name);
    EXPECT_EQ(image != nullptr, c.found);
    if (image) {
      EXPECT_EQ(image->width * image->height, 8);
    }
    EXPECT_EQ(library.Lacks(c.name), c.lacks);
  }
  EXPECT_NE(Library("secret").Find("locked"), nullptr);
}

TEST_F(TextureLibraryTest, ListsItsFoldersOnceAndSharesEachImageAmongThreads) {
  textures::TextureLibrary library = Library();
  EXPECT_TRUE(library.Lacks("late"));
  WriteFile(dir_ / "op/textures/late.png", ReadFile(dir_ / "bark.png"));
  EXPECT_TRUE(library.Lacks("late"));  // the run's one listing did not have it
  EXPECT_EQ(library.Find("late"), nullptr);

  std::vector<std::shared_ptr<const render::Texture>> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = library.Find(i % 2 == 0 ? "wood" : "WOOD"); });
  }
  for (std::thread& t : threads) t.join();
  for (const auto& image : seen) EXPECT_EQ(image, seen[0]);  // decoded once, shared
  ASSERT_NE(seen[0], nullptr);
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>

#include "boxtally/textures/texture_library.h"
#include "support/nginx_server.h"
#include "textures/texture_test_support.h"

namespace {

using testing_support::NginxServer;
using testing_support::TempDir;
using namespace texture_testing;

// The requests nginx saw (at least `expected` of them, once logged), as "METHOD URI STATUS".
std::vector<std::string> Requests(const NginxServer& nginx, std::size_t expected = 0) {
  std::vector<std::string> requests;
  for (const std::string& line : nginx.AccessLines(expected)) {
    requests.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
  }
  return requests;
}

class WebTextures : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing_support::NginxProgram().empty() || !HaveConvert()) {
      GTEST_SKIP() << "needs nginx and ImageMagick's convert";
    }
    std::filesystem::create_directories(dir_ / "site/op/textures");
    std::filesystem::create_directories(dir_ / "lists");
    ASSERT_FALSE(
        Convert(dir_, MakePicture(4, 2, 8), "", "PNG", "site/op/textures/wood.png").empty());
  }

  textures::TextureLibrary Library(const NginxServer& nginx, const std::string& folder) {
    textures::TexturePlaces places;
    textures::WebTexturePlaces& web = places.web.emplace();
    web.url = "http://127.0.0.1:" + std::to_string(nginx.port()) + folder;
    web.download_dir = dir_ / "lists/textures/";
    web.keep_records = true;
    return textures::TextureLibrary(places);
  }

  TempDir dir_;
};

TEST_F(WebTextures, AskOncePerNameFetchWhatIsDrawnAndAskAgainWithConditions) {
  NginxServer nginx(dir_ / "site");
  {
    textures::TextureLibrary library = Library(nginx, "/op/textures/");
    EXPECT_FALSE(library.Lacks("wood"));
    EXPECT_FALSE(library.Lacks("wood"));  // asked once
    EXPECT_TRUE(library.Lacks("gone"));
    const auto image = library.Find("wood");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 4);
    EXPECT_EQ(library.Find("gone"), nullptr);  // known missing: no request
  }
  EXPECT_EQ(Requests(nginx, 11),
            (std::vector<std::string>{
                "HEAD /op/textures/ 403",  // the folder is there (no listing of it, though)
                "HEAD /op/textures/wood.jpg 404", "HEAD /op/textures/wood.jpeg 404",
                "HEAD /op/textures/wood.png 200",
                // The kind found last is tried first.
                "HEAD /op/textures/gone.png 404", "HEAD /op/textures/gone.jpg 404",
                "HEAD /op/textures/gone.jpeg 404", "HEAD /op/textures/gone.bmp 404",
                "HEAD /op/textures/gone.gif 404", "HEAD /op/textures/gone.zip 404",
                "GET /op/textures/wood.png 200"}));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "lists/textures/wood.png"));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "lists/textures/.boxtally-web"));

  // The next run asks about the file it has, with its records: 304, and nothing comes again.
  const std::size_t before = Requests(nginx).size();
  {
    textures::TextureLibrary library = Library(nginx, "/op/textures/");
    EXPECT_FALSE(library.Lacks("wood"));
    EXPECT_NE(library.Find("wood"), nullptr);
  }
  const std::vector<std::string> again = Requests(nginx, before + 2);
  EXPECT_EQ(
      std::vector<std::string>(again.begin() + static_cast<std::ptrdiff_t>(before), again.end()),
      (std::vector<std::string>{"HEAD /op/textures/ 403", "HEAD /op/textures/wood.png 304"}));
}

TEST_F(WebTextures, AFolderTheServerLacksIsNoKnownFolder) {
  NginxServer nginx(dir_ / "site");
  textures::TextureLibrary library = Library(nginx, "/elsewhere/textures/");
  EXPECT_FALSE(library.Lacks("wood"));
  EXPECT_FALSE(library.Lacks("gone"));
  EXPECT_EQ(library.Find("wood"), nullptr);
  EXPECT_EQ(Requests(nginx, 1), std::vector<std::string>{"HEAD /elsewhere/textures/ 404"});
}

}  // namespace

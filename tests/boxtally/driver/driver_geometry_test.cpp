// A model's geometry read for a preview, the way a run reads it, and the thumbnails' files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "boxtally/cli/cube_scene.h"
#include "boxtally/driver/model_geometry.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/rwx/rwx_test_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ModelGeometry, ReadsEveryKindOfModelAsARunDoes) {
  TempDir dir, work;
  WriteFile(dir / "box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(dir / "off.rwx", "modelbegin\nvertex 1 0 0\nvertex 3 1 1\nmodelend\n");
  WriteFile(dir / "cube.cob", testing_support::CubeScene());
  const std::string zip = "cd '" + dir.path() + "' && zip -q -X -P secret locked.zip box.rwx";
  if (testing_support::RunProgram({"/bin/sh", "-c", zip}).exit_status != 0) {
    GTEST_SKIP() << "needs Info-ZIP zip";
  }
  rwx_test::FakeSwitches centring;
  centring.non_centered = true;
  struct Case {
    const char* file;
    const rwx::SwitchSource* switches;
    std::size_t triangles;
    render::Bounds box;
  };
  const render::Bounds unit{{-1, -1, -1}, {1, 1, 1}};
  const Case cases[] = {
      {"box.rwx", nullptr, 12, unit},
      {"locked.zip", nullptr, 12, unit},  // an archive, opened with the request's password
      // rwxsmith's frame makes (x, y, z) into (-0.1 x, 0.1 z, 0.1 y); see cube_scene.h.
      {"cube.cob", nullptr, 12, {{-0.2f, 0.3f, 0.2f}, {-0.1f, 0.4f, 0.3f}}},
      {"off.rwx", nullptr, 0, {{1, 0, 0}, {3, 1, 1}}},
      // The run's switches give the registry's box: centred on x and z.
      {"off.rwx", &centring, 0, {{-3, 0, -1}, {3, 1, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    driver::GeometryRequest request;
    request.model_path = dir / c.file;
    request.found_name = c.file;
    request.password = "secret";
    request.work_dir = work.path() + "/";
    request.program_dir = std::string(BOXTALLY_BIN_DIR) + "/";
    request.switches = c.switches;
    const driver::ModelGeometry geometry = driver::ReadModelGeometry(request);
    EXPECT_EQ(geometry.fate, driver::Fate::kMeasured);
    EXPECT_EQ(geometry.mesh.triangles.size(), c.triangles);
    ASSERT_TRUE(geometry.box.has_value());
    EXPECT_NEAR(geometry.box->min.x, c.box.min.x, 1e-6f);
    EXPECT_NEAR(geometry.box->min.y, c.box.min.y, 1e-6f);
    EXPECT_NEAR(geometry.box->min.z, c.box.min.z, 1e-6f);
    EXPECT_NEAR(geometry.box->max.x, c.box.max.x, 1e-6f);
    EXPECT_NEAR(geometry.box->max.z, c.box.max.z, 1e-6f);
    EXPECT_TRUE(std::filesystem::is_empty(work.path()));  // every work file removed
  }
  // A failure says why, as the run's results and log would; a cancelled reading says so.
  driver::GeometryRequest request;
  request.model_path = dir / "locked.zip";
  request.found_name = "locked.zip";
  request.work_dir = work.path() + "/";
  const driver::ModelGeometry refused = driver::ReadModelGeometry(request);
  EXPECT_EQ(refused.fate, driver::Fate::kFailed);
  EXPECT_EQ(refused.reason, driver::Reason::kArchiveEncrypted);
  EXPECT_NE(refused.log.find("Unable to unzip file " + (dir / "locked.zip")), std::string::npos);
  const std::atomic<bool> cancel{true};
  request.cancel = &cancel;
  request.model_path = dir / "box.rwx";
  request.found_name = "box.rwx";
  const driver::ModelGeometry cancelled = driver::ReadModelGeometry(request);
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_TRUE(cancelled.mesh.triangles.empty());
}

TEST(Thumbnails, FileNamesNeverLeaveOrHideInTheFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"tree.rwx", "tree.png"},   {"a.b.cob", "a.b.png"},   {"abc", "abc.png"},
      {".rwx", "_.rwx.png"},      {"..rwx", "_..png"},      {"a\\b.rwx", "a_b.png"},
      {"x\ny/z.rwx", "x_y_z.png"},
  };
  for (const auto& [model, file] : cases) {
    SCOPED_TRACE(model);
    EXPECT_EQ(driver::ThumbnailFileName(model), file);
  }
}

TEST(Thumbnails, ClashesAreNumberedAndLinksReplacedWhenTheRunCompletes) {
  TempDir dir, elsewhere;
  WriteFile(elsewhere / "victim", "keep");
  ASSERT_EQ(symlink((elsewhere / "victim").c_str(), (dir / "link.png").c_str()), 0);
  WriteFile(dir / "tree.png", "an earlier run's");
  driver::ThumbnailSet set;
  set.dir = dir.path();
  for (const char* name : {"tree.rwx", "tree.cob", "tree-2.rwx", "link.rwx", "empty.rwx"}) {
    SaveThumbnail(set, {name, std::string(name) == "empty.rwx" ? "" : std::string("png of ") + name});
  }
  // Until the run completes the folder shows nothing new.
  EXPECT_EQ(ReadFile(dir / "tree.png"), "an earlier run's");
  EXPECT_FALSE(std::filesystem::exists(dir / "tree-2.png"));
  driver::CommitThumbnails(set);
  EXPECT_EQ(ReadFile(dir / "tree.png"), "png of tree.rwx");
  EXPECT_EQ(ReadFile(dir / "tree-2.png"), "png of tree.cob");
  EXPECT_EQ(ReadFile(dir / "tree-2-2.png"), "png of tree-2.rwx");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link.png"));
  EXPECT_EQ(ReadFile(elsewhere / "victim"), "keep");
  EXPECT_EQ(set.written, 4u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
  // A run that does not complete leaves the folder as it was.
  driver::ThumbnailSet stopped;
  stopped.dir = dir.path();
  SaveThumbnail(stopped, {"tree.rwx", "png of another run"});
  driver::AbandonThumbnails(stopped);
  EXPECT_EQ(ReadFile(dir / "tree.png"), "png of tree.rwx");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
  // A name no file system takes, and a folder gone, are failures kept for the user.
  SaveThumbnail(set, {std::string(300, 'n') + ".rwx", "png"});
  set.dir = dir / "gone";
  SaveThumbnail(set, {"a.rwx", "png"});
  EXPECT_EQ(set.failed, 2u);
  ASSERT_EQ(set.failures.size(), 2u);
  EXPECT_NE(set.failures[0].find("longer than 255 bytes"), std::string::npos);
  EXPECT_EQ(set.failures[1], "cannot write the thumbnail " + (dir / "gone/a.png") +
                                 ": No such file or directory");
}

TEST(Thumbnails, TheFolderIsMadeWhenItsParentIsThereAndKilledRunsFilesGo) {
  TempDir dir;
  WriteFile(dir / "file", "");
  // The hidden files of a writer that is gone (a child that has ended), and of one alive.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::filesystem::create_directory(dir / "old");
  const std::string prefix = dir / ("old/" + std::string(driver::kThumbnailTempPrefix));
  WriteFile(prefix + std::to_string(gone) + "-0", "");
  WriteFile(prefix + std::to_string(getpid()) + "-0", "");
  EXPECT_FALSE(driver::PrepareThumbnailFolder(dir / "old").has_value());
  EXPECT_FALSE(std::filesystem::exists(prefix + std::to_string(gone) + "-0"));
  EXPECT_TRUE(std::filesystem::exists(prefix + std::to_string(getpid()) + "-0"));
  EXPECT_FALSE(driver::PrepareThumbnailFolder(dir / "new").has_value());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "new"));
  EXPECT_FALSE(driver::PrepareThumbnailFolder(dir / "new").has_value());  // already there
  EXPECT_EQ(driver::PrepareThumbnailFolder(dir / "file"),
            "the thumbnail folder " + (dir / "file") + " is not a folder");
  EXPECT_EQ(driver::PrepareThumbnailFolder(dir / "no/new"),
            "cannot make the thumbnail folder " + (dir / "no/new") + ": No such file or directory");
}

// The Debian package, made by CPack from this build's own programs and install rules, as make
// package makes it from a Release build: what it holds, who owns it, and its dependencies, which
// must be the packages of the shared libraries the programs link.
#include <dirent.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using package_test::FindProgram;
using package_test::Lines;
using testing_support::ProgramRun;
using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

constexpr bool kHasWindow = BOXTALLY_HAS_WINDOW;

// The tools CPack and the checks need, with the Debian package that brings each.
struct Tool {
  const char* program;
  const char* package;
};
constexpr Tool kTools[] = {{"dpkg-deb", "dpkg"},
                           {"dpkg", "dpkg"},
                           {"dpkg-shlibdeps", "dpkg-dev"},
                           {"file", "file"},
                           {"objdump", "binutils"}};

std::string Trimmed(const std::string& text) {
  const std::size_t end = text.find_last_not_of(" \n");
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Package names of a Depends field: "libc6 (>= 2.34), libfoo1 | libbar1" gives the three names.
std::set<std::string> DependedPackages(const std::string& depends) {
  std::set<std::string> names;
  std::string name;
  bool in_version = false;
  for (const char c : depends + ",") {
    if (c == '(') in_version = true;
    if (c == ')') in_version = false;
    if (in_version || c == ' ' || c == ')' || c == '\n') continue;
    if (c == ',' || c == '|') {
      if (!name.empty()) names.insert(name);
      name.clear();
      continue;
    }
    name += c;
  }
  return names;
}

class DebianPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const Tool& tool : kTools) {
      if (FindProgram(tool.program).empty()) {
        GTEST_SKIP() << tool.program << " is not installed (Debian package " << tool.package
                     << "): no Debian package can be made or read here";
      }
    }
    if (std::string(BOXTALLY_MAN_PAGES).empty()) {
      GTEST_SKIP() << "scdoc was not found when the build was configured: the package would "
                      "have no manual pages";
    }
    const ProgramRun cpack = RunProgram({BOXTALLY_CPACK, "-G", "DEB", "-B", dir_.path(), "--config",
                                         BOXTALLY_BUILD_DIR "/CPackConfig.cmake"});
    ASSERT_EQ(cpack.exit_status, 0) << cpack.out << cpack.err;
    const std::string arch = Trimmed(Run({"dpkg", "--print-architecture"}));
    deb_ = dir_ / ("boxtally_" BOXTALLY_VERSION "_" + arch + ".deb");
    ASSERT_FALSE(testing_support::ReadFile(deb_).empty()) << "no " << deb_ << "\n" << cpack.out;
  }

  // Runs a tool found on PATH and returns what it printed; a failure fails the test.
  std::string Run(std::vector<std::string> argv) {
    argv[0] = FindProgram(argv[0]);
    const ProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.exit_status, 0) << argv[0] << ": " << run.err;
    return run.out;
  }

  TempDir dir_;
  std::string deb_;
};

}  // namespace

TEST_F(DebianPackage, HoldsItsFilesOwnedByRootAndDependsOnWhatTheProgramsLink) {
  EXPECT_EQ(Run({"dpkg-deb", "--field", deb_, "Package", "Version"}),
            "Package: boxtally\nVersion: " BOXTALLY_VERSION "\n");

  // "-rwxr-xr-x root/root 441904 2026-12-08 15:49 ./usr/bin/boxtally-cli"
  std::map<std::string, std::string> entries;  // path -> mode and owner
  for (const std::string& line : Lines(Run({"dpkg-deb", "--contents", deb_}))) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    EXPECT_EQ(owner, "root/root") << line;
    entries[path] = mode;
  }
  const std::string program = "-rwxr-xr-x", data = "-rw-r--r--";
  struct Case {
    const char* path;
    const std::string& mode;
    bool window_only;
  };
  const Case cases[] = {
      {"./usr/bin/boxtally-cli", program, false},
      {"./usr/bin/rwxsmith", program, false},
      {"./usr/share/man/man1/boxtally-cli.1.gz", data, false},
      {"./usr/share/man/man1/rwxsmith.1.gz", data, false},
      {"./usr/share/bash-completion/completions/boxtally-cli", data, false},
      {"./usr/share/bash-completion/completions/rwxsmith", data, false},
      {"./usr/share/doc/boxtally/README.md", data, false},
      // The pages the README links to, and the pictures they show.
      {"./usr/share/doc/boxtally/docs/cli.md", data, false},
      {"./usr/share/doc/boxtally/docs/thumbnails/sign.png", data, false},
      {"./usr/bin/boxtally", program, true},
      {"./usr/share/applications/boxtally.desktop", data, true},
      {"./usr/share/icons/hicolor/scalable/apps/boxtally.svg", data, true},
      {"./usr/share/man/man1/boxtally.1.gz", data, true},
      // The guide F1 shows, readable outside the window too.
      {"./usr/share/doc/boxtally/guide.fr.md", data, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.window_only && !kHasWindow) {
      EXPECT_EQ(entries.count(c.path), 0u) << "built without the window";
      continue;
    }
    ASSERT_EQ(entries.count(c.path), 1u);
    EXPECT_EQ(entries[c.path], c.mode);
  }
  // Folders are open to everyone, as dpkg expects of /usr.
  EXPECT_EQ(entries["./usr/share/man/man1/"], "drwxr-xr-x");

  // Depends names the packages of the libraries the programs link, and nothing else.
  const std::string root = dir_ / "root";
  Run({"dpkg-deb", "-x", deb_, root});
  std::set<std::string> needed;
  for (const char* name : {"boxtally-cli", "rwxsmith", "boxtally"}) {
    const std::string path = root + "/usr/bin/" + name;
    if (std::string(name) == "boxtally" && !kHasWindow) continue;
    for (const std::string& line : Lines(Run({"objdump", "-p", path}))) {
      std::istringstream fields(line);
      std::string tag, soname;
      if (fields >> tag >> soname && tag == "NEEDED") needed.insert(soname);
    }
  }
  ASSERT_TRUE(needed.count("libc.so.6")) << "objdump -p gave no NEEDED libc";

  const std::set<std::string> depends =
      DependedPackages(Run({"dpkg-deb", "--field", deb_, "Depends"}));
  // One question for every library, as dpkg reads its whole file list for each:
  // "zlib1g:amd64: /lib/x86_64-linux-gnu/libz.so.1".
  std::vector<std::string> search{"dpkg", "-S"};
  for (const std::string& soname : needed) search.push_back("*/" + soname);
  std::map<std::string, std::set<std::string>> owners;  // soname -> packages holding a copy
  for (const std::string& line : Lines(Run(search))) {
    const std::size_t path = line.find(": /");
    if (path == std::string::npos || line.rfind("diversion", 0) == 0) continue;
    const std::string soname = line.substr(line.rfind('/') + 1);
    owners[soname].insert(line.substr(0, line.find(':')));
  }
  std::set<std::string> owners_of_needed;
  for (const std::string& soname : needed) {
    SCOPED_TRACE(soname);
    // A copy for another architecture or in another folder has an owner of its own: one of the
    // owners is enough.
    ASSERT_FALSE(owners[soname].empty());
    bool named = false;
    for (const std::string& owner : owners[soname]) named = named || depends.count(owner) > 0;
    EXPECT_TRUE(named) << "no package of " << soname << " in Depends";
    owners_of_needed.insert(owners[soname].begin(), owners[soname].end());
  }
  // Nothing written by hand: every dependency owns a library that a program links.
  for (const std::string& name : depends) {
    EXPECT_TRUE(owners_of_needed.count(name)) << name << " owns no library the programs link";
  }
}

TEST(DesktopEntry, ValidatesAsTheMenuReadsIt) {
  const std::string validate = FindProgram("desktop-file-validate");
  if (validate.empty()) GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is missing";
  const ProgramRun run =
      RunProgram({validate, std::string(BOXTALLY_SOURCE_DIR) + "/desktop/boxtally.desktop"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out + run.err, "");
}

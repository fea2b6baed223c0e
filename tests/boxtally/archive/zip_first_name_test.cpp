#include "boxtally/archive/zip_first_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive_fixtures.h"

namespace {

using archive::ZipFirstName;
using namespace archive_test;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Reads the name from a private copy of `bytes`, so AddressSanitizer sees the end of the input.
std::optional<std::string> NameOf(const std::string& bytes) {
  std::vector<char> copy(bytes.begin(), bytes.end());
  // fmemopen refuses a size of 0; an empty temporary file is the empty stream instead.
  std::unique_ptr<std::FILE, FileCloser> f(copy.empty() ? std::tmpfile()
                                                        : fmemopen(copy.data(), copy.size(), "rb"));
  if (f == nullptr) return std::nullopt;
  return ZipFirstName(f.get());
}

std::optional<std::string> NameOfFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (f == nullptr) return std::nullopt;
  return ZipFirstName(f.get());
}

TEST(ZipFirstName, ReadsTheFirstEntryOfArchivesMadeByZip) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  TempDir dir;
  WriteFile(dir / "tree.cob", "Caligari V00.01BLH\n");
  WriteFile(dir / "b.rwx", "modelbegin\nmodelend\n");
  std::filesystem::create_directory(dir / "models");
  WriteFile(dir / "models/tree.rwx", "modelbegin\nmodelend\n");
  ASSERT_TRUE(Shell(dir.path(), "zip -q cob.zip tree.cob"));
  ASSERT_TRUE(Shell(dir.path(), "zip -q -0 folder.zip models/tree.rwx b.rwx"));
  ASSERT_TRUE(Shell(dir.path(), "zip -q several.zip b.rwx tree.cob"));
  ASSERT_TRUE(Shell(dir.path(), "zip -q -P secret enc.zip tree.cob"));
  ASSERT_TRUE(Shell(dir.path(), "cat b.rwx | zip -q -fz- - - | cat > piped.zip"));
  struct Case {
    const char* archive;
    const char* name;
  };
  const Case cases[] = {
      {"cob.zip", "tree.cob"},
      {"folder.zip", "models/tree.rwx"},  // folders are kept; the caller looks at the suffix only
      {"several.zip", "b.rwx"},
      {"enc.zip", "tree.cob"},  // the name is not encrypted
      {"piped.zip", "-"},       // zip's name for standard input
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    EXPECT_EQ(NameOfFile(dir / c.archive), std::optional<std::string>(c.name));
  }
}

TEST(ZipFirstName, ReadsTheNameStoredByGzip) {
  if (!HaveTool("gzip")) GTEST_SKIP() << "gzip is not installed";
  TempDir dir;
  WriteFile(dir / "tree.rwx", "modelbegin\nmodelend\n");
  ASSERT_TRUE(Shell(dir.path(), "gzip -c tree.rwx > named.zip && gzip -n -c tree.rwx > anon.gz"));
  EXPECT_EQ(NameOfFile(dir / "named.zip"), std::optional<std::string>("tree.rwx"));
  EXPECT_EQ(NameOfFile(dir / "anon.gz"), std::optional<std::string>(""));
}

TEST(ZipFirstName, RefusesAnotherMethodBeforeExtraction) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  TempDir dir;
  WriteFile(dir / "tree.rwx", ModelText(4000));
  ASSERT_TRUE(Shell(dir.path(), "7z a -tzip -mm=BZip2 bz.zip tree.rwx >/dev/null"));
  EXPECT_EQ(NameOfFile(dir / "bz.zip"), std::nullopt);
}

TEST(ZipFirstName, FollowsTheHeaderFields) {
  EntrySpec tree;
  tree.name = "tree.rwx";
  tree.data = "modelbegin\nmodelend\n";
  EntrySpec other_method = tree;
  other_method.method = 12;
  EntrySpec stored = tree;
  stored.method = 0;
  EntrySpec with_extra = tree;
  with_extra.extra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  EntrySpec empty_name = tree;
  empty_name.name = "";
  EntrySpec nul_inside = tree;
  nul_inside.name = std::string("ab\0cd", 5);
  EntrySpec at_limit = tree;
  at_limit.name = std::string(512, 'n');
  EntrySpec past_limit = tree;
  past_limit.name = std::string(513, 'n');
  const std::string split_marker = "PK00" + LocalEntry(tree);
  struct Case {
    const char* what;
    std::string bytes;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"deflated", LocalEntry(tree), "tree.rwx"},
      {"stored", LocalEntry(stored), "tree.rwx"},
      {"method 12", LocalEntry(other_method), std::nullopt},
      {"extra field after the name", LocalEntry(with_extra), "tree.rwx"},
      {"empty name", LocalEntry(empty_name), ""},
      {"name ends at a 0 byte", LocalEntry(nul_inside), "ab"},
      {"512 bytes", LocalEntry(at_limit), std::string(512, 'n')},
      {"513 bytes", LocalEntry(past_limit), std::nullopt},
      {"split-archive marker", split_marker, "tree.rwx"},
      {"central directory first", "PK\x01\x02" + LocalEntry(tree).substr(4), std::nullopt},
      {"marker followed by no header", "PK00PK\x05\x06" + std::string(26, '\0'), std::nullopt},
      {"not an archive", "modelbegin\nmodelend\n", std::nullopt},
      {"one byte", "P", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(NameOf(c.bytes), c.name);
  }
}

TEST(ZipFirstName, FollowsTheGzipFlags) {
  const std::string data = "modelbegin\nmodelend\n";
  std::string deflate64 = GzipMember(data, 0);
  deflate64[2] = 9;  // a method gzip never wrote
  std::string cut_extra = GzipMember(data, 0x04, "", std::string(40, 'x'));
  cut_extra.resize(10 + 2 + 20);
  struct Case {
    const char* what;
    std::string bytes;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"no name", GzipMember(data, 0), ""},
      {"name", GzipMember(data, 0x08, "tree.rwx"), "tree.rwx"},
      {"extra field, then name", GzipMember(data, 0x0C, "tree.rwx", "AB\x02\x00xy"), "tree.rwx"},
      {"name and comment", GzipMember(data, 0x18, "tree.rwx", "", "a comment"), "tree.rwx"},
      {"name ending at 0xFF",
       GzipMember(data, 0x08,
                  "tr\xFF"
                  "ee"),
       "tr"},
      {"name ending at the end of the file", std::string("\x1F\x8B\x08\x08\0\0\0\0\0\3tree", 14),
       "tree"},
      {"multi-part flag", GzipMember(data, 0x02), std::nullopt},
      {"method other than deflate", deflate64, std::nullopt},
      {"header cut short", GzipMember(data, 0).substr(0, 9), std::nullopt},
      {"extra field cut short", cut_extra, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(NameOf(c.bytes), c.name);
  }
}

TEST(ZipFirstName, CutsALongGzipNameAtTheNameBuffer) {
  const std::string long_name(3000, 'g');
  for (const std::size_t length : {1254u, 1255u, 1256u, 3000u}) {
    SCOPED_TRACE(length);
    const std::optional<std::string> name =
        NameOf(GzipMember("x", 0x08, long_name.substr(0, length)));
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name,
              long_name.substr(0, std::min<std::size_t>(length, archive::kMaxGzipNameLength)));
  }
}

TEST(ZipFirstName, RefusesEveryCutInsideTheHeaderAndName) {
  EntrySpec e;
  e.name = "models/tree.rwx";
  e.data = "modelbegin\nmodelend\n";
  const std::string zip = LocalEntry(e);
  const std::size_t name_end = 30 + e.name.size();
  for (std::size_t n = 0; n < name_end; ++n) {
    EXPECT_EQ(NameOf(zip.substr(0, n)), std::nullopt) << "prefix length " << n;
  }
  EXPECT_EQ(NameOf(zip.substr(0, name_end)), std::optional<std::string>(e.name));
}

}  // namespace

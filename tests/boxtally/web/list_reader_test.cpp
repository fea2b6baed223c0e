// The list and propdump readers and what the web fetch makes of one entry: the model name, the
// archive's file name, its URL and its local path. Expected names are worked out by hand from
// the list formats' rules.
#include "boxtally/web/list_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boxtally/web/model_names.h"
#include "support/temp_dir.h"

using testing_support::TempDir;
using testing_support::WriteFile;
using web::EntryRead;

namespace {

struct Entries {
  std::vector<std::string> texts;  // the entries, in order
  int dropped = 0;
  int too_long = 0;
};

// Reads every entry of `bytes` as the web fetch opens its list: text mode for a plain list,
// byte for byte for a propdump.
Entries ReadAll(const std::string& bytes, bool propdump) {
  TempDir dir;
  WriteFile(dir / "list", bytes);
  std::unique_ptr<platform::InStream> in = platform::OpenInStream(dir / "list", !propdump);
  Entries out;
  std::string text;
  for (int guard = 0; guard < 100000; ++guard) {
    const EntryRead read =
        propdump ? web::ReadPropdumpRecord(*in, text) : web::ReadListLine(*in, text);
    if (read == EntryRead::kEnd) return out;
    if (read == EntryRead::kEntry) out.texts.push_back(text);
    if (read == EntryRead::kDropped) ++out.dropped;
    if (read == EntryRead::kTooLong) ++out.too_long;
  }
  ADD_FAILURE() << "the reader never reached the end";
  return out;
}

// One propdump record: eight unused numbers, the three lengths, a blank, the texts, CR LF.
std::string Record(const std::string& name, const std::string& second = "desc",
                   const std::string& third = "act") {
  return "1 2 3 4 5 -6 7 8 " + std::to_string(name.size()) + " " + std::to_string(second.size()) +
         " " + std::to_string(third.size()) + " " + name + second + third + "\r\n";
}

std::string WithoutEnd(const std::string& bytes, std::size_t cut) {
  return bytes.substr(0, bytes.size() - cut);
}

}  // namespace

TEST(ListLines, NamesComeFromTrimmedLinesUpToAControlByte) {
  struct Case {
    const char* line;
    const char* name;  // "" when the line is skipped
  };
  const Case cases[] = {
      {"tree.rwx", "tree.rwx"},
      {"  tree.rwx \t ", "tree.rwx"},
      {"tree.rwx\tthe comment", "tree.rwx"},
      {"my tree.rwx", "my tree.rwx"},  // a blank belongs to the name
      {"x", ""},
      {"  x  ", ""},
      {"#tree.rwx", ""},
      {"  # tree.rwx", ""},
      {"a\tcomment", ""},  // the name is shorter than 2 characters
      {"ab", "ab"},
      {"caf\xC3\xA9.rwx", "caf\xC3\xA9.rwx"},  // bytes above 0x7F belong to the name
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(web::ModelNameOfLine(web::TrimListLine(c.line)), c.name);
  }
}

TEST(ListLines, EveryLineIsAnEntryTheLastOneWithoutItsLineEndToo) {
  const Entries e = ReadAll("tree.rwx\r\n# comment\n\nx\nlast.rwx", false);
  EXPECT_EQ(e.texts, (std::vector<std::string>{"tree.rwx", "# comment", "", "x", "last.rwx"}));
  EXPECT_EQ(ReadAll("", false).texts.size(), 0u);
}

TEST(ListLines, ALineOverItsRoomIsDroppedWhole) {
  const std::string fits(web::kMaxListLine, 'a');
  const std::string over(web::kMaxListLine + 1, 'b');
  const Entries e = ReadAll(fits + "\n" + over + "\nnext.rwx\n", false);
  EXPECT_EQ(e.texts, (std::vector<std::string>{fits, "next.rwx"}));
  EXPECT_EQ(e.too_long, 1);
}

TEST(Propdump, RecordsGiveTheirNamesHeadersAndDamageAreDropped) {
  const std::string bytes = "propdump version 4\r\n" + Record("tree.rwx") +
                            "12 13 garbage line\r\n" + Record("my box.rwx", "", "") +
                            Record("", "d", "a") + Record(std::string("ab\0cd.rwx", 9));
  const Entries e = ReadAll(bytes, true);
  EXPECT_EQ(e.texts, (std::vector<std::string>{"tree.rwx", "my box.rwx", "", "ab"}));
  EXPECT_EQ(e.dropped, 2);
}

TEST(Propdump, NumbersMaySpanLinesAndLengthsAreCheckedAgainstTheirRoom) {
  const std::string name255(web::kMaxPropdumpName, 'n');
  const std::string text256(web::kMaxPropdumpText, 't');
  struct Case {
    const char* label;
    std::string bytes;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"numbers over two lines",
       "1 2 3 4\r\n5 6 7 8 2 0 0 ab\r\n" + Record("c.rwx"),
       {"ab", "c.rwx"}},
      {"the longest texts", Record(name255, text256, text256), {name255}},
      {"a name over its room", Record(name255 + "n") + Record("next.rwx"), {"next.rwx"}},
      {"a text over its room", Record("a.rwx", text256 + "t") + Record("next.rwx"), {"next.rwx"}},
      {"a negative length", "1 2 3 4 5 6 7 8 -1 0 0 x\r\n" + Record("next.rwx"), {"next.rwx"}},
      {"a huge length",
       "1 2 3 4 5 6 7 8 99999999999999999999 0 0 x\r\n" + Record("next.rwx"),
       {"next.rwx"}},
      {"the last record without its line end",
       Record("a.rwx") + WithoutEnd(Record("b.rwx"), 2),
       {"a.rwx", "b.rwx"}},
      {"texts cut by the end of the file",
       Record("a.rwx") + WithoutEnd(Record("b.rwx"), 3),
       {"a.rwx"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ReadAll(c.bytes, true).texts, c.names);
  }
}

TEST(Propdump, EveryCutOfTwoRecordsGivesAPrefixOfTheirNames) {
  const std::string bytes = Record("first.rwx") + Record("second.rwx");
  const std::vector<std::string> all = {"first.rwx", "second.rwx"};
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    SCOPED_TRACE(n);
    const Entries e = ReadAll(bytes.substr(0, n), true);
    ASSERT_LE(e.texts.size(), all.size());
    for (std::size_t i = 0; i < e.texts.size(); ++i) EXPECT_EQ(e.texts[i], all[i]);
  }
}

TEST(ModelPlaces, ArchiveNameUrlAndLocalPath) {
  struct Case {
    const char* name;
    const char* url_text;
    const char* list_file;
    const char* file_name;
    const char* url;
    const char* local_path;
  };
  const Case cases[] = {
      {"tree.rwx", "http://h/objects", "lists/models.txt", "tree.zip", "http://h/objects/tree.zip",
       "lists/tree.zip"},
      {"tree.rwx", "http://h/objects/", "models.txt", "tree.zip", "http://h/objects/tree.zip",
       "tree.zip"},
      {"a.b.rwx", "http://h", "/w/l.txt", "a.b.zip", "http://h/a.b.zip", "/w/a.b.zip"},
      {"tree", "http://h", "l.txt", "tree.zip", "http://h/tree.zip", "tree.zip"},
      {".x", "http://h", "l.txt", ".x.zip", "http://h/.x.zip", ".x.zip"},
      {"tree.", "http://h", "l.txt", "tree.zip", "http://h/tree.zip", "tree.zip"},
      {"my box.rwx", "", "C:\\w\\list.txt", "my box.zip", "/my%20box.zip", "C:\\w\\my box.zip"},
      {"a#b%20c.rwx", "http://h", "l.txt", "a#b%20c.zip", "http://h/a%23b%20c.zip", "a#b%20c.zip"},
      {"caf\xC3\xA9\x7F.rwx", "http://h", "l.txt", "caf\xC3\xA9\x7F.zip",
       "http://h/caf%C3%A9%7F.zip", "caf\xC3\xA9\x7F.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    web::ModelPlaces places;
    ASSERT_EQ(web::FormModelPlaces(c.name, c.url_text, c.list_file, places),
              web::PlacesResult::kOk);
    EXPECT_EQ(places.file_name, c.file_name);
    EXPECT_EQ(places.url, c.url);
    EXPECT_EQ(places.local_path, c.local_path);
  }
}

TEST(ModelPlaces, NamesThatAreNoPlainFileNamesOrTooLongAreRefused) {
  struct Case {
    std::string name;
    std::string url_text;
    std::string list_file;
    web::PlacesResult result;
  };
  const Case cases[] = {
      {"../evil", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"a/b.rwx", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"..\\b.rwx", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"..", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {".", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"*.rwx", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"tr?e.rwx", "http://h", "l.txt", web::PlacesResult::kNotPlain},
      {"..x", "http://h", "l.txt", web::PlacesResult::kOk},  // "..zip" is a plain name
      // 251 bytes and ".zip" fill the file name's 255; one more passes it.
      {std::string(251, 'n'), "", "l.txt", web::PlacesResult::kOk},
      {std::string(252, 'n'), "", "l.txt", web::PlacesResult::kFileNameTooLong},
      {std::string(250, 'n') + ".rwx", "", "l.txt", web::PlacesResult::kOk},
      {std::string(252, 'n') + ".rwx", "", "l.txt", web::PlacesResult::kFileNameTooLong},
      {std::string(169, ' '), "", "l.txt", web::PlacesResult::kOk},  // 169 x "%20" + ".zip"
      {std::string(170, ' '), "", "l.txt", web::PlacesResult::kTooLong},
      {"t", std::string(2041, 'u'), "l.txt", web::PlacesResult::kOk},  // 2041 + "/t.zip"
      {"t", std::string(2042, 'u'), "l.txt", web::PlacesResult::kTooLong},
      {"t", "", std::string(1017, 'd') + "/l.txt", web::PlacesResult::kOk},  // 1018 + "t.zip"
      {"t", "", std::string(1018, 'd') + "/l.txt", web::PlacesResult::kTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 20) + " " + std::to_string(c.name.size()));
    web::ModelPlaces places;
    EXPECT_EQ(web::FormModelPlaces(c.name, c.url_text, c.list_file, places), c.result);
  }
}

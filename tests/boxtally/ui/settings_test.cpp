#include "boxtally/ui/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
// The 30 keys of a first start, in the order of the settings table, each with its default.
const std::string kFirstStartFile =
    "[Form]\r\n"
    "Top=70\r\n"
    "Left=60\r\n"
    "\r\n"
    "[Debug]\r\n"
    "CobDebug=0\r\n"
    "\r\n"
    "[Parameters]\r\n"
    "ModelPath=*.zip\r\n"
    "FileModels=*.zip\r\n"
    "ListFile=\r\n"
    "RegistryFile=myreg.txt\r\n"
    "AppendRegistry=1\r\n"
    "LogFile=boxtally.log\r\n"
    "AppendLog=1\r\n"
    "FormatFile=\r\n"
    "SkipHugeObjects=1\r\n"
    "HandleFacers=0\r\n"
    "NonCentered=0\r\n"
    "OverSized=0\r\n"
    "FromWeb=0\r\n"
    "ReuseWeb=0\r\n"
    "ErrorsOnly=1\r\n"
    "ItIsThePropfile=0\r\n"
    "UseReferer=0\r\n"
    "URL=\r\n"
    "UserAgent=Gridmere/3.60 (560)\r\n"
    "Referer=gm://localhost:5670/\r\n"
    "RefererWorld=\r\n"
    "CaFile=\r\n"
    "Proxy=\r\n"
    "Downloads=6\r\n"
    "Textures=\r\n"
    "Thumbnails=\r\n"
    "DefaultFormat=<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}
}  // namespace

TEST(Settings, FirstStartGivesTheDefaultsAndWritesAllKeysInOrder) {
  TempDir dir;
  const std::string path = dir / "boxtally.INI";
  const ui::Settings s = ui::LoadSettings(path);
  EXPECT_EQ(s.top, 70);
  EXPECT_EQ(s.left, 60);
  EXPECT_EQ(s.model_path, "*.zip");
  EXPECT_EQ(s.registry_file, "myreg.txt");  // not the form's "registry.txt"
  EXPECT_TRUE(s.skip_huge_objects);
  EXPECT_TRUE(s.errors_only);
  EXPECT_TRUE(s.append_registry && s.append_log);
  EXPECT_FALSE(s.from_web || s.cob_debug || s.handle_facers || s.reuse_web);
  EXPECT_EQ(s.referer_world, "");
  EXPECT_EQ(s.default_format, "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>");
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  EXPECT_EQ(ReadFile(path), kFirstStartFile);
}

TEST(Settings, ReadsTheEdgeCasesOfTheFileAndWritesThemBackNormalised) {
  struct Case {
    const char* line;  // replaces the default line of the same key
    const char* replacement;
    const char* written;  // the line after a save
    bool (*check)(const ui::Settings&);
    const char* also_line = nullptr;  // a second line the save changes
    const char* also_written = nullptr;
  };
  const Case cases[] = {
      {"Top=70", "Top=0x20", "Top=32", [](const ui::Settings& s) { return s.top == 32; }},
      {"ErrorsOnly=1", "ErrorsOnly=2", "ErrorsOnly=1",
       [](const ui::Settings& s) { return s.errors_only; }},
      {"ErrorsOnly=1", "ErrorsOnly=yes", "ErrorsOnly=1",  // no number: the default
       [](const ui::Settings& s) { return s.errors_only; }},
      {"CobDebug=0", "CobDebug=1", "CobDebug=0", [](const ui::Settings& s) { return s.cob_debug; }},
      // ModelPath is the box of the mode the file was saved in: here the list file's.
      {"FromWeb=0", "FromWeb=1", "FromWeb=1",
       [](const ui::Settings& s) { return s.from_web && s.list_file == "*.zip"; }, "ListFile=",
       "ListFile=*.zip"},
      {"Left=60", "Left=abc", "Left=60", [](const ui::Settings& s) { return s.left == 60; }},
      {"Downloads=6", "Downloads=32", "Downloads=32",
       [](const ui::Settings& s) { return s.downloads == 32; }},
      {"Downloads=6", "Downloads=0", "Downloads=6",  // 1 to 32, else the default
       [](const ui::Settings& s) { return s.downloads == 6; }},
      {"URL=", "url = http://example.invalid/objects ", "URL=http://example.invalid/objects",
       [](const ui::Settings& s) { return s.url == "http://example.invalid/objects"; }},
      {"Textures=", "Textures=\" op/tex \"", "Textures=\" op/tex \"",  // blanks kept in quotes
       [](const ui::Settings& s) { return s.textures == " op/tex "; }},
      {"Thumbnails=", "Thumbnails=\" thumbs \"", "Thumbnails=\" thumbs \"",
       [](const ui::Settings& s) { return s.thumbnail_folder == " thumbs "; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replacement);
    TempDir dir;
    const std::string path = dir / "boxtally.INI";
    WriteFile(path, Replaced(kFirstStartFile, c.line, c.replacement));
    const ui::Settings s = ui::LoadSettings(path);
    EXPECT_TRUE(c.check(s));
    ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
    std::string expected = Replaced(kFirstStartFile, c.line, c.written);
    if (c.also_line != nullptr) expected = Replaced(expected, c.also_line, c.also_written);
    EXPECT_EQ(ReadFile(path), expected);
  }
}

TEST(Settings, KeepsATemplateOfSeveralLinesWhileTheOlderProgramReadsItsFirstLine) {
  TempDir dir;
  const std::string path = dir / "boxtally.INI";
  ui::Settings s;
  s.default_format = "<ffile> 1 <fleft>\n\t<fx~> C:\\n <ftop>  ";
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  const std::string saved = ReadFile(path);
  EXPECT_NE(saved.find("\r\nDefaultFormat=<ffile> 1 <fleft>\r\n"
                       "DefaultFormatLines=\"<ffile> 1 <fleft>\\n\t<fx~> C:\\\\n <ftop>  \"\r\n"),
            std::string::npos)
      << saved;
  EXPECT_EQ(ui::LoadSettings(path).default_format, s.default_format);

  // The older program saved a new one-line template since: the longer one is stale.
  WriteFile(path, Replaced(saved, "DefaultFormat=<ffile> 1 <fleft>", "DefaultFormat=<ffile>"));
  EXPECT_EQ(ui::LoadSettings(path).default_format, "<ffile>");

  // Back to one line: the extra key goes, and the file is the first start's again.
  s.default_format = ui::kDefaultTemplate;
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  EXPECT_EQ(ReadFile(path), kFirstStartFile);
}

TEST(Settings, EachModesModelsAndTheResultsWindowComeBack) {
  TempDir dir;
  const std::string path = dir / "boxtally.INI";
  ui::Settings s;
  s.from_web = true;
  s.model_path = s.list_file = "lists/world.txt";
  s.file_models = "objects/*.rwx";
  s.results_width = 900;
  s.results_height = 500;
  s.results_columns = {120, 0, 64};
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  const std::string saved = ReadFile(path);
  EXPECT_NE(saved.find("\r\n[Results]\r\nWidth=900\r\nHeight=500\r\nColumns=120,0,64\r\n"),
            std::string::npos)
      << saved;
  ui::Settings back = ui::LoadSettings(path);
  EXPECT_EQ(back.file_models, "objects/*.rwx");
  EXPECT_EQ(back.list_file, "lists/world.txt");
  EXPECT_EQ(back.results_width, 900);
  EXPECT_EQ(back.results_columns, (std::vector<int>{120, 0, 64}));
  // An older program writes ModelPath alone: it is the current mode's box.
  WriteFile(path, Replaced(Replaced(saved, "ModelPath=lists/world.txt", "ModelPath=other.txt"),
                           "Columns=120,0,64", "Columns=80,wide,,-5,90"));
  back = ui::LoadSettings(path);
  EXPECT_EQ(back.list_file, "other.txt");
  EXPECT_EQ(back.file_models, "objects/*.rwx");
  EXPECT_EQ(back.results_columns, (std::vector<int>{80, 0, 0, 0, 90}));
}

TEST(Settings, ValuesWithEdgeBlanksOrQuotesComeBackUnchanged) {
  TempDir dir;
  const std::string path = dir / "boxtally.INI";
  ui::Settings s;
  s.registry_file = " reg.txt ";
  s.log_file = "\"quoted.log\"";
  s.model_path = "objects/my models/*.zip";
  s.default_format = "<ffile> 1 ";
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  const ui::Settings back = ui::LoadSettings(path);
  EXPECT_EQ(back.registry_file, s.registry_file);
  EXPECT_EQ(back.log_file, s.log_file);
  EXPECT_EQ(back.model_path, s.model_path);
  EXPECT_EQ(back.default_format, s.default_format);
}

TEST(Settings, AFileMadeOnWindowsIsReadAndItsOtherLinesKept) {
  TempDir dir;
  const std::string path = dir / "boxtally.INI";
  WriteFile(path,
            "[form]\r\ntop=100\r\nleft=0x10\r\n\r\n"
            "[Tools]\r\n; the user's own section\r\nEditor=notepad.exe\r\n\r\n"
            "[PARAMETERS]\r\nmodelpath=C:\\objects\\*.zip\r\nOverSized=1\r\n");
  const ui::Settings s = ui::LoadSettings(path);
  EXPECT_EQ(s.top, 100);
  EXPECT_EQ(s.left, 16);
  EXPECT_EQ(s.model_path, "C:\\objects\\*.zip");
  EXPECT_TRUE(s.over_sized);
  EXPECT_EQ(s.registry_file, "myreg.txt");
  ASSERT_EQ(ui::SaveSettings(path, s), ui::kSettingsOk);
  const std::string saved = ReadFile(path);
  EXPECT_EQ(
      saved.rfind("[form]\r\nTop=100\r\nLeft=16\r\n\r\n[Tools]\r\n; the user's own section\r\n"
                  "Editor=notepad.exe\r\n\r\n[PARAMETERS]\r\nModelPath=C:\\objects\\*.zip\r\n"
                  "OverSized=1\r\nFileModels=C:\\objects\\*.zip\r\nListFile=\r\n"
                  "RegistryFile=myreg.txt\r\n",
                  0),
      0u)
      << saved;
  EXPECT_NE(saved.find("\r\n\r\n[Debug]\r\nCobDebug=0\r\n"), std::string::npos) << saved;
}

TEST(Settings, ASaveThatCannotWriteSaysSo) {
  TempDir dir;
  WriteFile(dir / "file", "x");  // a file where the folder should be, also refused to root
  EXPECT_EQ(ui::SaveSettings(dir / "file/boxtally.INI", ui::Settings{}), ui::kSettingsCannotWrite);
  const std::string read_only = dir / "boxtally.INI";
  WriteFile(read_only, "[Form]\r\nTop=5\r\n");
  chmod(read_only.c_str(), 0444);
  ui::Settings s;
  s.top = 5;  // the first key is unchanged, the second one fails
  EXPECT_EQ(ui::SaveSettings(read_only, s), ui::kSettingsCannotWrite);
  EXPECT_EQ(ReadFile(read_only), "[Form]\r\nTop=5\r\n");
}

TEST(Settings, LivesBesideTheProgramOrInTheConfigFolder) {
  TempDir dir;
  const std::string program_dir = dir.path() + "/";
  const std::string missing = dir.path() + "/missing/";  // cannot be written, not even by root
  EXPECT_EQ(ui::SettingsFilePath(program_dir, "/cfg", "/home/me"), program_dir + "boxtally.INI");
  EXPECT_EQ(ui::SettingsFilePath(missing, "/cfg", "/home/me"), "/cfg/boxtally/boxtally.INI");
  EXPECT_EQ(ui::SettingsFilePath(missing, nullptr, "/home/me"),
            "/home/me/.config/boxtally/boxtally.INI");
  // Folders of installed packages, writable or not (root may run the window): the config folder.
  // /usr/local belongs to the machine's own installs, which keep the settings beside the program
  // when they may be written.
  for (const char* system_dir : {"/usr/bin/", "/usr/games/", "/bin/", "/sbin/"}) {
    SCOPED_TRACE(system_dir);
    EXPECT_EQ(ui::SettingsFilePath(system_dir, "/cfg", "/root"), "/cfg/boxtally/boxtally.INI");
  }
  EXPECT_EQ(ui::SettingsFilePath("/usr/local/bin/", "/cfg", "/root"),
            access("/usr/local/bin/", W_OK) == 0 ? "/usr/local/bin/boxtally.INI"
                                                 : "/cfg/boxtally/boxtally.INI");
  // A relative XDG_CONFIG_HOME is to be ignored.
  EXPECT_EQ(ui::SettingsFilePath(missing, "cfg", "/home/me"),
            "/home/me/.config/boxtally/boxtally.INI");

  // The config folder is made on the first save.
  const std::string in_config = ui::SettingsFilePath(missing, (dir / "cfg").c_str(), nullptr);
  ASSERT_EQ(ui::SaveSettings(in_config, ui::Settings{}), ui::kSettingsOk);
  EXPECT_EQ(ReadFile(dir / "cfg/boxtally/boxtally.INI"), kFirstStartFile);
}

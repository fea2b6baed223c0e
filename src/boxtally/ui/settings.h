// The window's settings file: the keys of its four sections, their defaults, and where the
// file lives. Qt-free, so it is read and written the same way by the window and by the tests.
#pragma once

#include <string>
#include <vector>

#include "boxtally/web/download_pool.h"
#include "boxtally/web/web_fetch.h"

namespace ui {

inline constexpr const char* kSettingsFileName = "boxtally.INI";
inline constexpr const char* kDefaultTemplate =
    "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>";
inline constexpr const char* kDefaultReferer = web::kDefaultReferer;
inline constexpr const char* kDefaultUserAgent = web::kDefaultUserAgent;

// Every field feeds one control of the window; the comments give the settings keys.
struct Settings {
  int top = 70;                                // Form/Top
  int left = 60;                               // Form/Left
  bool cob_debug = false;                      // Debug/CobDebug, always written back as 0
  std::string model_path = "*.zip";            // Parameters/ModelPath: the models box
  // Each mode's own models box, so a switch of mode brings back that mode's text; the current
  // mode's is ModelPath, which an older program writes alone.
  std::string file_models = "*.zip";  // FileModels
  std::string list_file;              // ListFile
  std::string registry_file = "myreg.txt";     // RegistryFile
  bool append_registry = true;                 // AppendRegistry
  std::string log_file = "boxtally.log";       // LogFile
  bool append_log = true;                      // AppendLog
  std::string format_file;                     // FormatFile
  bool skip_huge_objects = true;               // SkipHugeObjects
  bool handle_facers = false;                  // HandleFacers
  bool non_centered = false;                   // NonCentered
  bool over_sized = false;                     // OverSized
  bool from_web = false;                       // FromWeb
  bool reuse_web = false;                      // ReuseWeb
  bool errors_only = true;                     // ErrorsOnly
  bool it_is_the_propfile = false;             // ItIsThePropfile
  bool use_referer = false;                    // UseReferer
  std::string url;                             // URL
  std::string user_agent = kDefaultUserAgent;  // UserAgent
  std::string referer = kDefaultReferer;       // Referer
  std::string referer_world;                   // RefererWorld
  std::string ca_file;  // CaFile: one more file of trusted authorities for https; no control
  std::string proxy;    // Proxy: the proxy of every web request; empty: the environment's
  int downloads = static_cast<int>(web::kDefaultDownloads);  // Downloads: at once; no control
  std::string textures;  // Textures: the textures folder or web folder; empty: the default
  std::string thumbnail_folder;  // Thumbnails: the "Vignettes" box; empty: no pictures
  // The format template, its lines separated by "\n". DefaultFormat holds its first line, so a
  // file written by the older program reads the same; a template of several lines is kept whole
  // in DefaultFormatLines, used only while its first line still equals DefaultFormat.
  std::string default_format = kDefaultTemplate;
  // The results window: its size (0: its own first size) and its column widths in pixels
  // (Results/Width, Height, and Columns with the widths separated by commas; 0 for a width that
  // is no number).
  int results_width = 0;
  int results_height = 0;
  std::vector<int> results_columns;
  // Where the user put it (Results/Left and Top, its frame's top left corner), written once the
  // user has moved it; until then it shows beside the main window.
  bool results_placed = false;
  int results_left = 0;
  int results_top = 0;
};

enum [[nodiscard]] SettingsResult : int{
    kSettingsOk = 0,
    kSettingsCannotWrite = -1,  // a key could not be written; the keys after it were not tried
};

// Beside the program when its folder may be written, else $XDG_CONFIG_HOME/boxtally/ (by default
// ~/.config/boxtally/). A program in a folder of the package manager (under /usr but not
// /usr/local, or /bin, /sbin) keeps its settings in the config folder even when run by root.
// `program_dir` ends with '/'; the two variables may be null.
std::string SettingsFilePath(const std::string& program_dir, const char* xdg_config_home,
                             const char* home);
// The same for this process and its environment.
std::string DefaultSettingsFilePath();

// Missing file, section or key, or a value that is no number for a number key: the default.
Settings LoadSettings(const std::string& path);
// Writes the keys in the order of the table; makes the file's folder when it is missing.
SettingsResult SaveSettings(const std::string& path, const Settings& settings);

}  // namespace ui

// Thumbnails of a run's measured models: each picture is drawn where its model is measured (on
// the workers when there are several), and written into the run's folder by the thread that
// commits the models, in the order of the registry, so the names a clash gives are the same for
// any number of workers. Like the registry, the folder changes only when the run completes: the
// pictures wait in hidden files until then. Nothing of this reaches the registry or the log.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "boxtally/render/texture.h"
#include "boxtally/rwx/geometry_capture.h"

namespace driver {

inline constexpr int kMinThumbnailSize = 16;  // pixels, each way
inline constexpr int kMaxThumbnailSize = 2048;
inline constexpr int kDefaultThumbnailSize = 256;
inline constexpr std::size_t kMaxThumbnailName = 255;  // bytes of a picture's file name
inline constexpr std::size_t kKeptThumbnailFailures = 10;  // failure lines kept for the user

// A measured model's picture, drawn and not yet written.
struct Thumbnail {
  std::string model_name;  // the registry name (tree.rwx)
  std::string png;         // the PNG file's bytes; empty: no picture
};

// The hidden files of pictures waiting for the end of the run: ".boxtally-thumbnail-PID-N".
inline constexpr const char* kThumbnailTempPrefix = ".boxtally-thumbnail-";

// The run's pictures. The host owns it; during a run only the committing thread touches it.
struct ThumbnailSet {
  std::string dir;  // the folder, as the user named it
  int size = kDefaultThumbnailSize;
  std::set<std::string> used;  // the file names this run gave
  struct Pending {
    std::string temp;  // the hidden file holding the picture
    std::string name;  // the name it takes when the run completes
  };
  std::vector<Pending> pending;
  std::size_t written = 0;  // pictures that took their names
  std::size_t failed = 0;
  std::vector<std::string> failures;  // the first kKeptThumbnailFailures, one line each
};

// The model's picture, size x size, as PNG bytes: the geometry of its last model in the first
// view, with the box that model's registry line took, its textures and masks found by
// `textures` (nullptr: surfaces in their colours). Empty when the PNG cannot be made.
std::string DrawThumbnail(const rwx::GeometryCapture& geometry, int size,
                          render::TextureSource* textures);

// A picture's file name: the registry name without its extension, and ".png" (tree.rwx gives
// tree.png). Control characters, '/' and '\' become '_', and a name that would start with '.'
// gets a '_' in front, so the name never leaves the folder or hides in it.
std::string ThumbnailFileName(const std::string& model_name);

// Writes the picture into a new hidden file of the set's folder, to take its name when the run
// completes: ThumbnailFileName, or NAME-2.png, NAME-3.png, ... when an earlier model of the run
// took that name. Failures are counted and kept in `failures`. Nothing for an empty picture.
void SaveThumbnail(ThumbnailSet& set, const Thumbnail& thumbnail);

// The end of a completed run: each waiting picture is renamed over its name, so a file or a link
// that stands there is replaced, never written through.
void CommitThumbnails(ThumbnailSet& set);
// Any other end: the waiting pictures are removed and the folder stays as it was.
void AbandonThumbnails(ThumbnailSet& set);

// Whether a picture may take the name of `path`, a file the run reads or writes: it stands in
// the folder `dir` (made yet or not) under a name of a picture's form (NAME.png, not hidden). A
// symbolic link at `path` counts, and so does the file it leads to. Such a run must not start:
// the picture would replace the file when the run completes.
bool PictureMayTake(const std::string& dir, const std::string& path);

// Makes the folder when it does not exist (its parent must), and removes the hidden files that
// runs which were killed left in it (this user's, of processes that are gone). Why it cannot be
// used, if so.
std::optional<std::string> PrepareThumbnailFolder(const std::string& dir);

}  // namespace driver

#include "boxtally/driver/thumbnails.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"
#include "platform/paths.h"
#include "platform/safe_replace.h"

namespace driver {

namespace {

constexpr int kTempAttempts = 100;

std::string ErrorText(int error) { return std::strerror(error); }

// The bytes into a new hidden file in `dir`, made with O_EXCL so no link or file that stands
// there is ever written through. Its path, or the empty text with errno set.
std::string WriteNewFile(const std::string& dir, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    const std::string path = dir + "/" + kThumbnailTempPrefix + std::to_string(getpid()) + "-" +
                             std::to_string(counter++);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    std::size_t done = 0;
    errno = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    bool ok = done == bytes.size();
    int error = ok ? 0 : (errno != 0 ? errno : EIO);
    if (close(fd) != 0 && ok) {
      ok = false;
      error = errno;
    }
    if (!ok) {
      unlink(path.c_str());
      errno = error;
      return {};
    }
    return path;
  }
  errno = EEXIST;
  return {};
}

// The name for this model: its own, or numbered after the names the run gave already.
std::string FreeName(const ThumbnailSet& set, const std::string& name) {
  if (set.used.count(name) == 0) return name;
  const std::string stem = name.substr(0, name.size() - 4);  // without ".png"
  for (std::size_t n = 2;; ++n) {
    std::string numbered = stem + "-" + std::to_string(n) + ".png";
    if (set.used.count(numbered) == 0) return numbered;
  }
}

// The process number in a hidden file's name, ".boxtally-thumbnail-PID-N"; 0 when it is none.
pid_t WriterOf(const std::string& name) {
  const std::size_t prefix = std::strlen(kThumbnailTempPrefix);
  if (name.compare(0, prefix, kThumbnailTempPrefix) != 0) return 0;
  pid_t pid = 0;
  const char* first = name.c_str() + prefix;
  const char* last = name.c_str() + name.size();
  const auto [end, ec] = std::from_chars(first, last, pid);
  if (ec != std::errc{} || end == last || *end != '-' || pid <= 0) return 0;
  return pid;
}

// A killed run's pictures never took their names; their files are this user's, and their
// writer is gone (another run that writes into the folder now is alive, and keeps its files).
void RemoveLeftovers(const std::string& dir) {
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    const pid_t writer = WriterOf(name);
    if (writer == 0 || (kill(writer, 0) == 0 || errno != ESRCH)) continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) {
      unlink(path.c_str());
    }
  }
  closedir(folder);
}

void Fail(ThumbnailSet& set, const std::string& line) {
  ++set.failed;
  if (set.failures.size() < kKeptThumbnailFailures) set.failures.push_back(line);
}

}  // namespace

std::string DrawThumbnail(const rwx::GeometryCapture& geometry, int size,
                          render::TextureSource* textures) {
  render::Bounds box{{geometry.box.min[0], geometry.box.min[1], geometry.box.min[2]},
                     {geometry.box.max[0], geometry.box.max[1], geometry.box.max[2]}};
  render::DrawOptions options;
  options.textures = textures;
  const render::Image image =
      render::DrawScene(geometry.mesh, geometry.model_ended ? &box : nullptr, render::Camera{},
                        size, size, options);
  std::string png;
  if (!render::EncodePng(image, png)) png.clear();
  return png;
}

std::string ThumbnailFileName(const std::string& model_name) {
  const std::size_t dot = model_name.rfind('.');
  std::string stem = dot != std::string::npos && dot > 0 ? model_name.substr(0, dot) : model_name;
  for (char& c : stem) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\') c = '_';
  }
  if (stem.empty() || stem[0] == '.') stem.insert(0, 1, '_');
  return stem + ".png";
}

void SaveThumbnail(ThumbnailSet& set, const Thumbnail& thumbnail) {
  if (thumbnail.png.empty()) return;
  const std::string name = FreeName(set, ThumbnailFileName(thumbnail.model_name));
  set.used.insert(name);
  // A name no file system takes is refused, never cut: a cut one would be another model's.
  if (name.size() > kMaxThumbnailName) {
    Fail(set, "cannot write the thumbnail of " + thumbnail.model_name + ": its name is longer " +
                  "than " + std::to_string(kMaxThumbnailName) + " bytes");
    return;
  }
  const std::string temp = WriteNewFile(set.dir, thumbnail.png);
  if (temp.empty()) {
    Fail(set, "cannot write the thumbnail " + set.dir + "/" + name + ": " + ErrorText(errno));
    return;
  }
  set.pending.push_back({temp, name});
}

void CommitThumbnails(ThumbnailSet& set) {
  for (const ThumbnailSet::Pending& p : set.pending) {
    const std::string path = set.dir + "/" + p.name;
    // rename() replaces a link that stands at the name; it never writes where the link points.
    if (rename(p.temp.c_str(), path.c_str()) == 0) {
      ++set.written;
      continue;
    }
    const int error = errno;
    unlink(p.temp.c_str());
    Fail(set, "cannot write the thumbnail " + path + ": " + ErrorText(error));
  }
  set.pending.clear();
}

void AbandonThumbnails(ThumbnailSet& set) {
  for (const ThumbnailSet::Pending& p : set.pending) unlink(p.temp.c_str());
  set.pending.clear();
}

bool PictureMayTake(const std::string& dir, const std::string& path) {
  if (path.empty()) return false;
  for (const std::string& name : {path, platform::FollowLinks(path)}) {
    const std::size_t slash = name.rfind('/');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
    const bool picture_name = last.size() > 4 && last[0] != '.' &&
                              last.compare(last.size() - 4, 4, ".png") == 0;
    if (picture_name && platform::SameFile(folder, dir)) return true;
  }
  return false;
}

std::optional<std::string> PrepareThumbnailFolder(const std::string& dir) {
  if (dir.empty()) return std::string("no thumbnail folder named");
  if (!platform::IsDirectory(dir)) {
    if (platform::FileExists(dir)) return "the thumbnail folder " + dir + " is not a folder";
    if (mkdir(dir.c_str(), 0777) != 0) {
      return "cannot make the thumbnail folder " + dir + ": " + ErrorText(errno);
    }
  }
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    return "cannot write into the thumbnail folder " + dir + ": " + ErrorText(errno);
  }
  RemoveLeftovers(dir);
  return std::nullopt;
}

}  // namespace driver

#include "boxtally/textures/texture_library.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "boxtally/archive/first_entry.h"
#include "boxtally/textures/image_decode.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace textures {

namespace {

std::string Lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsArchive(const std::string& bytes) {
  return bytes.rfind("PK", 0) == 0 || bytes.rfind("\x1F\x8B", 0) == 0;
}

// The file's bytes, at most kMaxImageFileBytes of them; nullopt for a bigger file, one that is
// no regular file, or a read that fails.
std::optional<std::string> ReadBounded(const std::string& path) {
  std::FILE* file = platform::OpenRegularFile(path);
  if (file == nullptr) return std::nullopt;
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{file};
  struct stat st {};
  if (fstat(fileno(file), &st) != 0 || st.st_size < 0 ||
      static_cast<std::uint64_t>(st.st_size) > kMaxImageFileBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) return std::nullopt;
  return bytes;
}

// The first entry of the archive at `path`, extracted in memory as a model's would be; its
// messages go nowhere: a bad texture archive is a missing texture, not a line of the log.
std::optional<std::string> ArchiveEntry(const std::string& path, const std::string& password) {
  std::string messages;
  platform::TextFile sink = platform::MemoryTextFile(messages, /*crlf=*/false);
  std::FILE* notes = std::fopen("/dev/null", "w");
  if (notes == nullptr) return std::nullopt;
  bool in_memory = false;
  // Bounded below the memory entry's size, so the entry never goes through a work file.
  std::unique_ptr<platform::InStream> entry = archive::ExtractFirstEntry(
      path, password, sink, std::string(), archive::EntryDestination::kMemoryWhenItFits, &in_memory,
      notes, kMaxImageFileBytes);
  std::fclose(notes);
  if (!entry || !in_memory) return std::nullopt;
  std::string bytes;
  for (std::string_view chunk = entry->Buffered(); !chunk.empty(); chunk = entry->Buffered()) {
    bytes.append(chunk);
    entry->Consume(chunk.size());
  }
  return bytes;
}

}  // namespace

std::shared_ptr<const render::Texture> ReadTextureFile(const std::string& path,
                                                       const std::string& password) {
  std::optional<std::string> bytes = ReadBounded(path);
  if (bytes && IsArchive(*bytes)) bytes = ArchiveEntry(path, password);
  if (!bytes) return nullptr;
  auto image = std::make_shared<render::Texture>();
  if (DecodeImage(*bytes, *image) != kImageOk) return nullptr;
  return image;
}

TextureLibrary::TextureLibrary(TexturePlaces places) : places_(std::move(places)) {
  if (places_.web) web_ = std::make_unique<WebTextureFolder>(*places_.web);
}

const FolderIndex& TextureLibrary::Index() {
  std::call_once(index_once_, [this] {
    if (places_.index) {
      index_ = *places_.index;
      return;
    }
    for (const LocalTextureFolder& folder : places_.folders) {
      (void)AddFolderToIndex(index_, folder.dir, folder.archives);
    }
  });
  return index_;
}

bool TextureLibrary::Lacks(const std::string& name) {
  if (!web_) return FindTextureFile(Index(), name).empty();
  if (!web_->Known()) return false;
  return !IsPlainTextureName(name) || web_->Has(name) == WebTextureFolder::Presence::kAbsent;
}

void TextureLibrary::Abandon() {
  if (web_) web_->Abandon();
}

std::shared_ptr<const render::Texture> TextureLibrary::Load(const std::string& name) {
  if (!web_) {
    const std::string path = FindTextureFile(Index(), name);
    return path.empty() ? nullptr : ReadTextureFile(path, places_.password);
  }
  const std::string path = web_->Fetch(name);
  if (path.empty()) return nullptr;
  std::shared_ptr<const render::Texture> image = ReadTextureFile(path, places_.password);
  if (!places_.web->keep_records) platform::RemoveFile(path);
  return image;
}

std::shared_ptr<const render::Texture> TextureLibrary::Find(const std::string& name) {
  const std::string key = Lowered(name);
  std::shared_ptr<Entry> entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Entry>& slot = entries_[key];
    if (!slot) slot = std::make_shared<Entry>();
    entry = slot;
  }
  std::lock_guard<std::mutex> lock(entry->mutex);
  if (!entry->loaded) Keep(*entry, Load(key));
  std::lock_guard<std::mutex> lock_uses(mutex_);
  entry->last_use = ++uses_;
  return entry->image;
}

// Under the entry's own lock.
void TextureLibrary::Keep(Entry& entry, std::shared_ptr<const render::Texture> image) {
  std::lock_guard<std::mutex> lock(mutex_);
  entry.image = std::move(image);
  entry.loaded = true;
  if (entry.image) kept_bytes_ += entry.image->rgba.size();
  if (kept_bytes_ > kMaxCachedTextureBytes) LetGoOfOldest(&entry);
}

// Under mutex_: lets go of the images drawn longest ago until a quarter of the room is free.
// Entries that another thread holds, and `current` (this thread's), are passed over.
void TextureLibrary::LetGoOfOldest(const Entry* current) {
  std::vector<Entry*> kept;
  for (auto& [key, entry] : entries_) {
    if (entry->image && entry.get() != current) kept.push_back(entry.get());
  }
  std::sort(kept.begin(), kept.end(),
            [](const Entry* a, const Entry* b) { return a->last_use < b->last_use; });
  for (Entry* entry : kept) {
    if (kept_bytes_ <= kMaxCachedTextureBytes / 4 * 3) return;
    std::unique_lock<std::mutex> held(entry->mutex, std::try_to_lock);
    if (!held.owns_lock()) continue;
    kept_bytes_ -= entry->image->rgba.size();
    entry->image.reset();
    entry->loaded = false;
  }
}

}  // namespace textures

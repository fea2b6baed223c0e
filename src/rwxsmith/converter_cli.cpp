#include "rwxsmith/converter_cli.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>

#include "rwxsmith/cob_format.h"
#include "rwxsmith/cob_reader.h"
#include "rwxsmith/dumps.h"
#include "rwxsmith/rwx_writer.h"
#include "rwxsmith/sequence_writer.h"

namespace cob {

namespace {

constexpr std::size_t kReadBlockSize = 1 << 16;  // bytes per read when the size is not known

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Which file an open input is: any path that leads to the same device and inode names it too.
struct FileIdentity {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};

// Opens the input for binary reading and notes which file it is. A folder opens like a file here
// but holds no bytes to read, so it counts as a file that cannot be opened.
FilePtr OpenInput(const std::string& path, FileIdentity& identity) {
  identity = FileIdentity{};
  FilePtr file(std::fopen(path.c_str(), "rb"));
  struct stat st {};
  if (file != nullptr && fstat(fileno(file.get()), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      file.reset();
    } else {
      identity = FileIdentity{true, st.st_dev, st.st_ino};
    }
  }
  return file;
}

// True when writing `output` would replace the input: the same file by another spelling, a
// symbolic link or a hard link. A path that does not exist yet cannot be the input.
bool IsInputFile(const FileIdentity& input, const std::string& output) {
  struct stat st {};
  return input.known && stat(output.c_str(), &st) == 0 && st.st_dev == input.device &&
         st.st_ino == input.inode;
}

const char* const kReportLine =
    "Please report problems as README.md describes under \"Reporting problems\"\n";

void PrintVersionLine() {
  // The converter's own build number (the one its RWX headers record), then the release it
  // ships with, which boxtally-cli --version and the window's title show too.
  std::printf("Rwxsmith build %d.%d.%d - part of boxtally " BOXTALLY_VERSION "\n", kVersionMajor,
              kVersionMinor, kVersionBuild);
}

void PrintBanner() {
  PrintVersionLine();
  std::fputs("You may optionally specify command line parameters FILENAME and OUTPUTMODE\n",
             stdout);
  std::fputs(kReportLine, stdout);
  std::fputs("\n", stdout);
}

void PrintHelp() {
  std::fputs(
      "Usage: rwxsmith [FILENAME [OUTPUTMODE]]\n"
      "Converts a binary COB or SCN scene into an RWX model or an animation sequence.\n"
      "\n"
      "  rwxsmith              asks for a file name and an output mode, until Q is typed\n"
      "  rwxsmith FILE         writes the RWX model beside FILE (chair.cob gives chair.rwx)\n"
      "  rwxsmith FILE MODE    MODE by its first letter: Rwx, or Animation (a .seq beside\n"
      "                        FILE); Headers and Imagelist are shown in interactive mode only\n"
      "  rwxsmith --help       this text\n"
      "  rwxsmith --version    the version\n"
      "\n"
      "Exit status: 0 done, 1 FILE cannot be opened, 2 the output cannot be written (or it\n"
      "would replace FILE), 3 Headers or Imagelist asked for, 4 unknown MODE, 5 not enough\n"
      "memory, 6 FILE is not a binary COB file (nothing is written), 7 FILE is damaged (the\n"
      "RWX model holds what could be read before the damage).\n",
      stdout);
  std::fputs(kReportLine, stdout);
}

// One line of standard input without its line end; empty when the input has ended.
std::optional<std::string> ReadAnswer() {
  std::fflush(stdout);
  std::string line;
  int c = 0;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

enum class ReadResult { kOk, kReadError, kNoMemory };

// Reads the open file whole into one buffer of exactly its size.
ReadResult ReadWholeFile(std::FILE* file, std::vector<std::uint8_t>& buffer) {
  try {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size >= 0 && std::fseek(file, 0, SEEK_SET) == 0) {
      buffer.resize(static_cast<std::size_t>(size));
      const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
      buffer.resize(got);
      // A file that grew while being read is taken as it was sized; a read error (such as a
      // directory, which opens but does not read) is not a file.
      return std::ferror(file) != 0 ? ReadResult::kReadError : ReadResult::kOk;
    }
    // Not seekable (a pipe): read to its end.
    std::clearerr(file);
    buffer.clear();
    std::size_t got = 0;
    do {
      const std::size_t old = buffer.size();
      buffer.resize(old + kReadBlockSize);
      got = std::fread(buffer.data() + old, 1, kReadBlockSize, file);
      buffer.resize(old + got);
    } while (got == kReadBlockSize);
    return std::ferror(file) != 0 ? ReadResult::kReadError : ReadResult::kOk;
  } catch (const std::bad_alloc&) {
    return ReadResult::kNoMemory;
  } catch (const std::length_error&) {
    return ReadResult::kNoMemory;
  }
}

// Result of one output mode: whether its file could be made and written.
enum class OutputResult {
  kOk,
  kDamaged,  // written whole, but the scene could only be read up to a damaged chunk
  kCannotCreate,
  kCannotWrite
};

OutputResult ConvertToRwx(const std::string& input, const std::string& output,
                          const std::vector<std::uint8_t>& buffer, ConverterState& state) {
  FilePtr file(std::fopen(output.c_str(), "wb"));  // line ends are written as CR LF by us
  if (file == nullptr) return OutputResult::kCannotCreate;
  RwxOutput out;
  out.file = file.get();
  const ModelFileResult read =
      WriteModelFile(out, input, buffer.data(), buffer.size(), ConversionTime(), state);
  const bool closed = std::fclose(file.release()) == 0;
  if (out.failed || !closed) {
    // A half-written model would be measured as if it were whole.
    std::remove(output.c_str());
    return OutputResult::kCannotWrite;
  }
  return read == ModelFileResult::kComplete ? OutputResult::kOk : OutputResult::kDamaged;
}

OutputResult ConvertToSequence(const std::string& input, const std::string& output,
                               const std::vector<std::uint8_t>& buffer) {
  FilePtr file(std::fopen(output.c_str(), "w+b"));
  if (file == nullptr) return OutputResult::kCannotCreate;
  WriteAnimationSequence(buffer, input, file.get(), stdout);
  const bool written = std::ferror(file.get()) == 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    // A half-written sequence would play as a wrong animation.
    std::remove(output.c_str());
    return OutputResult::kCannotWrite;
  }
  return OutputResult::kOk;
}

// One pass of the main loop after the file is open. Returns the exit code of a one-shot run,
// or nothing when an interactive loop goes on.
std::optional<int> ConvertOpenFile(FilePtr file, const FileIdentity& identity,
                                   const std::string& input, char mode, bool one_shot,
                                   ConverterState& state) {
  std::vector<std::uint8_t> buffer;
  const ReadResult read = ReadWholeFile(file.get(), buffer);
  file.reset();
  if (read == ReadResult::kNoMemory) {
    std::fputs("Memory allocation error\n", stdout);
    return kExitNoMemory;
  }
  if (read == ReadResult::kReadError) {
    std::printf("Can not open file '%s'\n", input.c_str());
    return one_shot ? std::optional<int>(kExitCannotOpen) : std::nullopt;
  }

  const auto one_shot_code = [one_shot](int code) {
    return one_shot ? std::optional<int>(code) : std::nullopt;
  };
  if (mode == 'R' || mode == 'A') {
    const std::string output = OutputPath(input, mode == 'R' ? ".rwx" : ".seq");
    if (IsInputFile(identity, output)) {
      std::fprintf(stderr, "Can not open output file '%s': it is the input file\n", output.c_str());
      return one_shot_code(kExitCannotCreate);
    }
    // Nothing is written for a file that is not a binary COB file: an empty model or sequence
    // would pass for a converted one.
    const bool accepted = mode == 'R'
                              ? AcceptHeader(input, buffer.data(), buffer.size())
                              : CheckBinaryHeader(buffer.data(), buffer.size(), stdout).has_value();
    if (!accepted) return one_shot_code(kExitBadHeader);
    const OutputResult result = mode == 'R' ? ConvertToRwx(input, output, buffer, state)
                                            : ConvertToSequence(input, output, buffer);
    if (result == OutputResult::kOk) return one_shot_code(kExitOk);
    if (result == OutputResult::kDamaged) return one_shot_code(kExitDamagedScene);
    if (one_shot) return kExitCannotCreate;
    if (result == OutputResult::kCannotCreate) {
      std::printf("Can not open output file '%s'\n", output.c_str());
    } else {
      std::printf("Can not write output file '%s'\n", output.c_str());
    }
    return std::nullopt;
  }
  if (mode == 'H' || mode == 'I') {
    if (one_shot) return kExitScreenMode;
    if (mode == 'H') {
      PrintChunkCensus(buffer, stdout);
    } else {
      PrintImageCensus(buffer, stdout);
    }
    return std::nullopt;
  }
  if (one_shot) return kExitUnknownMode;
  std::fputs("Unknown file output type\n", stdout);
  return std::nullopt;
}

int RunOneShot(const std::vector<std::string>& args, ConverterState& state) {
  const std::string& input = args[0];
  FileIdentity identity;
  FilePtr file = OpenInput(input, identity);
  if (file == nullptr) {
    std::printf("Can not open file '%s'\n", input.c_str());
    return kExitCannotOpen;
  }
  const char mode = args.size() >= 2 ? UpperAscii(args[1].empty() ? '\0' : args[1][0]) : 'R';
  return ConvertOpenFile(std::move(file), identity, input, mode, true, state).value_or(kExitOk);
}

int RunInteractive(ConverterState& state) {
  while (true) {
    std::fputs("Enter COB filename (including .cob or .scn extension) (Q to exit): ", stdout);
    const std::optional<std::string> input = ReadAnswer();
    if (!input) {
      std::fputs("\n", stdout);  // the input ended: leave as "Q" would
      return kExitOk;
    }
    if (*input == "q" || *input == "Q") return kExitOk;
    FileIdentity identity;
    FilePtr file = OpenInput(*input, identity);
    if (file == nullptr) {
      std::printf("Can not open file '%s'\n", input->c_str());
      continue;
    }
    std::fputs("Output (to file): Rwx, Animation; (to screen): Headers, Imagelist ? : ", stdout);
    const std::string answer = ReadAnswer().value_or("");
    const char mode = answer.empty() ? '\0' : UpperAscii(answer[0]);
    if (const std::optional<int> code =
            ConvertOpenFile(std::move(file), identity, *input, mode, false, state)) {
      return *code;  // only a memory failure ends the loop
    }
  }
}

}  // namespace

std::string OutputPath(std::string_view input, std::string_view extension) {
  const std::size_t dot = input.find_last_of('.');
  const std::size_t separator = input.find_last_of("/\\");
  std::string out(input);
  if (dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator)) {
    out.resize(dot);
  }
  out += extension;
  return out;
}

std::time_t ConversionTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && *epoch != '\0') {
    const std::string_view text(epoch);
    long long seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec == std::errc{} && end == text.data() + text.size() && seconds >= 0 &&
        seconds <= kMaxSourceDateEpoch) {
      return static_cast<std::time_t>(seconds);
    }
    std::fprintf(stderr,
                 "Warning: SOURCE_DATE_EPOCH is not a number of seconds from 0 to %lld; the "
                 "clock is used\n",
                 kMaxSourceDateEpoch);
  }
  return std::time(nullptr);
}

int RunConverter(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--help") {
    PrintHelp();
    return kExitOk;
  }
  if (!args.empty() && args[0] == "--version") {
    PrintVersionLine();
    return kExitOk;
  }
  // Lives for the whole run: prototype numbers go on from one interactive conversion to the next.
  ConverterState state;
  PrintBanner();
  const int code = args.empty() ? RunInteractive(state) : RunOneShot(args, state);
  std::fflush(stdout);
  return code;
}

}  // namespace cob

// Real COB files: the binary ones convert into well-formed RWX, the ASCII ones are refused, and
// every cut of a real file converts without harm.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "rwxsmith/cob_format.h"
#include "rwxsmith/rwx_writer.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kProgram = std::string(BOXTALLY_BIN_DIR) + "/rwxsmith";
const std::string kCorpus = std::string(BOXTALLY_CORPUS) + "/cob/";

bool HaveCorpus() {
  struct stat st {};
  return stat(kCorpus.c_str(), &st) == 0;
}

// What a structural read of the RWX text found.
struct RwxShape {
  std::string problem;  // empty when the text is well formed
  int prototypes = 0;
  int vertices = 0;
  int polygons = 0;
  int instances = 0;
};

// Checks CR LF line ends, balanced blocks, polygon vertex numbers within their prototype's
// vertices, and instances of defined prototypes only.
RwxShape ReadShape(const std::string& text) {
  RwxShape shape;
  const std::string last = "ModelEnd\r\n";
  if (text.size() < last.size() ||
      text.compare(text.size() - last.size(), last.size(), last) != 0) {
    shape.problem = "does not end with ModelEnd";
    return shape;
  }
  std::map<std::string, bool> defined;
  std::string current;
  int proto_vertices = 0;
  int clumps = 0;
  int transforms = 0;
  std::size_t start = 0;
  int line_number = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ++line_number;
    if (end == std::string::npos) {
      shape.problem = "line without CR LF";
      return shape;
    }
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) {
      shape.problem = "bare line end in line " + std::to_string(line_number);
      return shape;
    }
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "ProtoBegin") {
      words >> current;
      proto_vertices = 0;
      ++shape.prototypes;
    } else if (word == "ProtoEnd") {
      defined[current] = true;
      current.clear();
    } else if (word == "Vertex") {
      std::string rest;
      std::getline(words, rest);
      const std::size_t hash = rest.rfind("# ");
      if (hash == std::string::npos ||
          rest.substr(hash + 2) != std::to_string(proto_vertices + 1)) {
        shape.problem = "vertex numbering in line " + std::to_string(line_number);
        return shape;
      }
      ++proto_vertices;
      ++shape.vertices;
    } else if (word == "Triangle" || word == "Quad" || word == "Polygon") {
      int count = word == "Triangle" ? 3 : word == "Quad" ? 4 : -1;
      if (count < 0) words >> count;
      for (int i = 0; i < count; ++i) {
        int n = 0;
        if (!(words >> n) || n < 1 || n > proto_vertices) {
          shape.problem = "polygon vertex out of range in line " + std::to_string(line_number);
          return shape;
        }
      }
      ++shape.polygons;
    } else if (word == "ClumpBegin") {
      ++clumps;
    } else if (word == "ClumpEnd") {
      --clumps;
    } else if (word == "TransformBegin") {
      ++transforms;
    } else if (word == "TransformEnd") {
      --transforms;
    } else if (word == "ProtoInstance") {
      std::string name;
      words >> name;
      if (!defined.count(name)) {
        shape.problem = "instance of unknown prototype " + name;
        return shape;
      }
      ++shape.instances;
    }
    if (clumps < 0 || transforms < 0) {
      shape.problem = "block closed twice in line " + std::to_string(line_number);
      return shape;
    }
  }
  if (clumps != 0 || transforms != 0 || !current.empty()) shape.problem = "unbalanced blocks";
  return shape;
}

std::vector<std::uint8_t> ReadCorpus(const std::string& name) {
  const std::string text = ReadFile(kCorpus + name);
  return {text.begin(), text.end()};
}

std::string ConvertInProcess(const std::vector<std::uint8_t>& bytes,
                             cob::ModelFileResult* result = nullptr) {
  cob::RwxOutput out;
  cob::ConverterState state;
  const cob::ModelFileResult read =
      cob::WriteModelFile(out, "cut.cob", bytes.data(), bytes.size(), 7200, state);
  if (result != nullptr) *result = read;
  return out.text;
}

// Offsets at which a chunk header of `bytes` starts, and the end of the last chunk.
std::vector<std::size_t> ChunkBoundaries(const std::uint8_t* bytes, std::size_t size) {
  std::vector<std::size_t> starts{cob::kFileHeaderSize};
  cob::ChunkHeader chunk;
  for (std::size_t at = cob::kFileHeaderSize; cob::ReadChunkHeader(bytes, size, at, chunk);
       at = chunk.next_offset) {
    starts.push_back(chunk.next_offset);
  }
  return starts;
}

TEST(CobCorpus, BinaryFilesConvertToWellFormedRwx) {
  if (!HaveCorpus()) GTEST_SKIP() << "needs the third-party corpus beside the clone: " << kCorpus;
  struct Case {
    const char* name;
    int prototypes;
    int polygons;
  };
  // Polygon counts: the face counts of the files (an independent reader finds the same for the
  // dwarf and the spiders); the molecule's spheres keep their degenerate pole faces.
  const Case cases[] = {
      {"dwarf.cob", 1, 1896},
      {"molecule.cob", 4, 512},
      {"spider_4_3.cob", 1, 1368},
      {"spider_6_6.cob", 1, 1368},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFile(dir / c.name, ReadFile(kCorpus + c.name));
    const ProgramRun run = RunProgram({kProgram, c.name, "Rwx"}, dir.path());
    EXPECT_EQ(run.exit_status, 0);
    std::string rwx_name = c.name;
    rwx_name.replace(rwx_name.size() - 3, 3, "rwx");
    const RwxShape shape = ReadShape(ReadFile(dir / rwx_name));
    EXPECT_EQ(shape.problem, "");
    EXPECT_EQ(shape.prototypes, c.prototypes);
    EXPECT_EQ(shape.instances, c.prototypes);
    EXPECT_EQ(shape.polygons, c.polygons);
    EXPECT_GT(shape.vertices, 0);
  }
}

TEST(CobCorpus, BoxtallyMeasuresTheConvertedFiles) {
  if (!HaveCorpus()) GTEST_SKIP() << "needs the third-party corpus beside the clone: " << kCorpus;
  const std::string boxtally = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";
  struct stat st {};
  if (stat(boxtally.c_str(), &st) != 0) GTEST_SKIP() << "boxtally-cli is not built";
  TempDir dir;
  for (const char* name : {"dwarf", "molecule", "spider_4_3", "spider_6_6"}) {
    WriteFile(dir / (std::string(name) + ".cob"), ReadFile(kCorpus + name + ".cob"));
    ASSERT_EQ(RunProgram({kProgram, std::string(name) + ".cob"}, dir.path()).exit_status, 0);
  }
  const ProgramRun run = RunProgram({boxtally, "--quiet", "--keep-huge", "*.rwx"}, dir.path());
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // One line per model: name, 1, then left bottom back right top front in thousandths. Every
  // box must be a real one (not the empty box of a model without vertices), and the spider,
  // which stands on its own centre line, must come out symmetric from left to right.
  std::istringstream lines(run.out);
  std::string line;
  int models = 0;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    std::istringstream words(line);
    std::string model;
    int one = 0;
    long box[6] = {};
    ASSERT_TRUE(words >> model >> one >> box[0] >> box[1] >> box[2] >> box[3] >> box[4] >> box[5]);
    ++models;
    for (int axis = 0; axis < 3; ++axis) {
      EXPECT_LT(box[axis], box[axis + 3]);
      EXPECT_GT(box[axis], -100000);
      EXPECT_LT(box[axis + 3], 100000);
    }
    if (model.rfind("spider", 0) == 0) {
      EXPECT_EQ(box[0], -box[3]);
    }
  }
  EXPECT_EQ(models, 4);
}

TEST(CobCorpus, AsciiFilesAreRefused) {
  if (!HaveCorpus()) GTEST_SKIP() << "needs the third-party corpus beside the clone: " << kCorpus;
  for (const char* name : {"molecule_ascii.cob", "spider_4_3_ascii.cob", "spider_6_6_ascii.cob"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    WriteFile(dir / name, ReadFile(kCorpus + name));
    const ProgramRun run = RunProgram({kProgram, name}, dir.path());
    EXPECT_EQ(run.exit_status, 6);
    EXPECT_TRUE(run.out.ends_with(
        std::string(name) + ": ASCII format COB files are not supported - resave as binary\n"))
        << run.out;
    std::string rwx_name = name;
    rwx_name.replace(rwx_name.size() - 3, 3, "rwx");
    struct stat st {};
    EXPECT_NE(stat((dir / rwx_name).c_str(), &st), 0) << "an RWX file was written";
  }
}

TEST(CobCorpus, EveryCutOfARealFileConvertsCleanly) {
  if (!HaveCorpus()) GTEST_SKIP() << "needs the third-party corpus beside the clone: " << kCorpus;
  const std::vector<std::uint8_t> whole = ReadCorpus("molecule.cob");
  const std::string full_text = ConvertInProcess(whole);
  const RwxShape full = ReadShape(full_text);
  ASSERT_EQ(full.problem, "");
  const std::string tail = " ClumpEnd\r\nModelEnd\r\n";
  const std::vector<std::size_t> boundaries = ChunkBoundaries(whole.data(), whole.size());
  testing::internal::CaptureStdout();  // header and damage messages of the cuts
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    // Its own buffer, so AddressSanitizer sees where the cut file ends.
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
    cob::ModelFileResult result = cob::ModelFileResult::kComplete;
    const std::string text = ConvertInProcess(cut, &result);
    // Only a cut between two chunks reads as a whole scene.
    const bool between_chunks =
        std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end();
    ASSERT_EQ(result, n < cob::kFileHeaderSize ? cob::ModelFileResult::kHeaderRejected
                      : between_chunks         ? cob::ModelFileResult::kComplete
                                               : cob::ModelFileResult::kDamaged)
        << "cut at " << n;
    // Every cut ends its file properly and writes no more than the whole file does; every 29th
    // gets the full structural check (all of them would take minutes under the sanitizers).
    ASSERT_LE(text.size(), full_text.size()) << "cut at " << n;
    ASSERT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0) << "cut at " << n;
    if (n % 29 == 0 || n == whole.size()) {
      const RwxShape shape = ReadShape(text);
      ASSERT_EQ(shape.problem, "") << "cut at " << n;
      ASSERT_LE(shape.prototypes, full.prototypes) << "cut at " << n;
      ASSERT_LE(shape.polygons, full.polygons) << "cut at " << n;
    }
  }
  testing::internal::GetCapturedStdout();
}

// A cut inside the header writes nothing (exit 6); any other cut inside a chunk converts what
// came before it and says so (exit 7). Only a cut between two chunks cannot be told from a
// whole file.
TEST(CobCorpus, TheProgramSurvivesCutsOfARealFile) {
  if (!HaveCorpus()) GTEST_SKIP() << "needs the third-party corpus beside the clone: " << kCorpus;
  const std::string whole = ReadFile(kCorpus + "spider_6_6.cob");
  const std::vector<std::size_t> chunk_starts =
      ChunkBoundaries(reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size());
  ASSERT_GT(chunk_starts.size(), 2u);
  std::vector<std::size_t> cuts;
  for (std::size_t n = 0; n < whole.size(); n += whole.size() / 13 + 1) cuts.push_back(n);
  cuts.insert(cuts.end(), {31, 32, chunk_starts[1], chunk_starts[1] + 1, chunk_starts[1] + 19});
  TempDir dir;
  for (const std::size_t n : cuts) {
    SCOPED_TRACE(n);
    std::remove((dir / "cut.rwx").c_str());
    WriteFile(dir / "cut.cob", whole.substr(0, n));
    const ProgramRun run = RunProgram({kProgram, "cut.cob"}, dir.path());
    if (n < cob::kFileHeaderSize) {
      EXPECT_EQ(run.exit_status, 6);
      EXPECT_EQ(ReadFile(dir / "cut.rwx"), "");
      continue;
    }
    const bool between_chunks =
        std::find(chunk_starts.begin(), chunk_starts.end(), n) != chunk_starts.end();
    EXPECT_EQ(run.exit_status, between_chunks ? 0 : 7);
    EXPECT_EQ(ReadShape(ReadFile(dir / "cut.rwx")).problem, "");
  }
}

}  // namespace

#include "boxtally/rwx/measure.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "rwx_test_support.h"

namespace rwx {
namespace {

using rwx_test::MeasureHarness;
using rwx_test::MeasureOutput;

const char* const kIdentityDump =
    "1.000000  0.000000  0.000000  0.000000  \r\n"
    "0.000000  1.000000  0.000000  0.000000  \r\n"
    "0.000000  0.000000  1.000000  0.000000  \r\n"
    "0.000000  0.000000  0.000000  1.000000  \r\n";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(MeasureModelFile, BlockInBothNumberModes) {
  MeasureHarness h;
  MeasureOutput out = h.Run("modelbegin\nblock 2 2 2\nmodelend\n");
  EXPECT_EQ(out.result, MeasureResult::kDone);
  EXPECT_EQ(out.registry, "box.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(out.log, "");
  h.integer_mode = false;
  out = h.Run("modelbegin\nblock 2 2 2\nmodelend\n");
  EXPECT_EQ(out.registry, "box.rwx 1 -10.00 -10.00 -10.00 10.00 10.00 10.00\r\n");
}

TEST(MeasureModelFile, LineEndsBlanksAndCaseDoNotMatter) {
  MeasureHarness h;
  const std::string expected = "box.rwx 1 995 1995 2995 1005 2005 3005\r\n";
  for (const char* script : {"modelbegin\nvertex 1 2 3\nmodelend\n",
                             "ModelBegin\r\n\r\n   VERTEX\t1   2  3\r\nModelEnd\r\n",
                             "modelbegin\rvertex 1 2 3 # a remark\rmodelend\r",
                             "modelbegin\n#vertex 9 9 9\nvertex 1 2 3\nmodelend"}) {
    SCOPED_TRACE(script);
    EXPECT_EQ(h.Run(script).registry, expected);
  }
}

TEST(MeasureModelFile, EndOfFileEndsTheModelAndALastLineWithoutLineEndIsLost) {
  MeasureHarness h;
  EXPECT_EQ(h.Run("modelbegin\nvertex 1 1 1\nvertex 5 5 5").registry,
            "box.rwx 1 995 995 995 1005 1005 1005\r\n");
  EXPECT_EQ(h.Run("clumpbegin\nvertex 1 1 1\nclumpend\n").registry,
            "box.rwx 1 995 995 995 1005 1005 1005\r\n");
  EXPECT_EQ(h.Run("").registry, "");
  EXPECT_EQ(h.Run("vertex 1 1 1\n").registry, "");  // no model was begun
}

TEST(MeasureModelFile, PrototypesArePlacedByTheMatrixAtTheInstance) {
  MeasureHarness h;
  h.format = "<ffile> <fvert> <fpoly> <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n";
  const MeasureOutput out = h.Run(
      "modelbegin\n"
      "clumpbegin\n"
      "translate 10 0 0\n"
      "protobegin Door\n"  // defined in its own space: the translation does not apply
      "vertex 0 0 0\n"
      "vertex 1 2 0\n"
      "quad 1 2 3 4\n"
      "protoend\n"
      "protoinstance DOOR\n"  // names are compared lower-cased
      "translate 0 0 5\n"
      "protoinstance door\n"
      "clumpend\n"
      "modelend\n");
  // Instances at (10, 0, 0), (11, 2, 0), (10, 0, 5), (11, 2, 5).
  EXPECT_EQ(out.registry, "box.rwx 4 2 10005 5 5 10995 1995 4995\r\n");
  EXPECT_EQ(out.log, "");
}

TEST(MeasureModelFile, RedefinedAndUnknownPrototypesAreWarnedAbout) {
  MeasureHarness h;
  h.format = "<fvert> <fleft> <fright>\n";
  const MeasureOutput out = h.Run(
      "modelbegin\n"
      "protobegin a\nvertex 1 1 1\nprotoend\n"
      "protobegin a\nvertex 2 2 2\nprotoend\n"
      "protoinstance a\n"
      "protoinstance b\n"
      "protoinstance\n"
      "modelend\n");
  const std::string file = h.dir / "model.rwx";
  EXPECT_EQ(out.registry, "1 1995 2005\r\n");  // only the second definition is instanced
  EXPECT_EQ(out.log,
            "Warning: Multiple prototype definition for:a. Previous instance discarded! (file:" +
                file + ")\r\nWarning: Unknown prototype b (file:" + file +
                ")\r\nWarning: Unknown prototype  (file:" + file + ")\r\n");
}

TEST(MeasureModelFile, PrototypesDoNotOutliveTheirModelOrFile) {
  MeasureHarness h;
  h.format = "<fvert>\n";
  const std::string file = h.dir / "model.rwx";
  MeasureOutput out = h.Run(
      "modelbegin\nprotobegin p\nvertex 9 9 9\nprotoend\nmodelend\n"
      "modelbegin\nprotoend\nprotoinstance p\nvertex 0 0 0\nmodelend\n");
  EXPECT_EQ(out.registry, "0\r\n1\r\n");
  EXPECT_EQ(out.log, "Warning:Mismatched Protobegin/end pair (file:" + file +
                         ")\r\nWarning: Unknown prototype p (file:" + file + ")\r\n");

  h.Run("protobegin q\nvertex 1 1 1\nprotoend\n");
  out = h.Run("modelbegin\nprotoinstance q\nmodelend\n");
  EXPECT_EQ(out.log, "Warning: Unknown prototype q (file:" + file + ")\r\n");
}

TEST(MeasureModelFile, TwoModelsCarryTheColourSumsOver) {
  MeasureHarness h;
  h.format = "<ffile> <fcolor>\n";
  const MeasureOutput out = h.Run(
      "modelbegin\ncolor 1 0 0\nvertex 0 0 0\nmodelend\n"
      "modelbegin\ncolor 0 1 0\nvertex 0 0 0\nmodelend\n");
  // (255, 0, 0) / 1, then ((255, 0, 0) + (0, 255, 0)) / 2.
  EXPECT_EQ(out.registry, "box.rwx 0xff0000\r\nbox.rwx 0x7f7f00\r\n");
  EXPECT_EQ(out.log, "");
  // A new file starts from zero sums.
  EXPECT_EQ(h.Run("modelbegin\ncolor 0 0 1\nmodelend\n").registry, "box.rwx 0x0000ff\r\n");
}

TEST(MeasureModelFile, ModelStateDecidesWhatIsWrittenAndWarned) {
  MeasureHarness h;
  const std::string file = h.dir / "model.rwx";
  MeasureOutput out = h.Run("modelbegin\nmodelbegin\nmodelend\nmodelend\n");
  EXPECT_EQ(out.registry, "box.rwx 1 -100005 -100005 -100005 100005 100005 100005\r\n");
  EXPECT_EQ(out.log, "Warning: Multiple ModelBegin command! (file:" + file + ")\r\n");
  // A "modelend" with nothing new leaves state -1, so the next "modelbegin" warns.
  out = h.Run("modelend\nmodelbegin\nvertex 0 0 0\nmodelend\n");
  EXPECT_EQ(out.registry, "box.rwx 1 -5 -5 -5 5 5 5\r\n");
  EXPECT_EQ(out.log, "Warning: Multiple ModelBegin command! (file:" + file + ")\r\n");
}

TEST(MeasureModelFile, NestedClumpTakesInTheOrigin) {
  MeasureHarness h;
  h.format = "<fleft> <fright>\n";
  EXPECT_EQ(
      h.Run("clumpbegin\nvertex 2 0 0\nvertex 5 0 0\nclumpbegin\nclumpend\nclumpend\n").registry,
      "5 4995\r\n");
  EXPECT_EQ(
      h.Run("clumpbegin\nvertex 2 0 0\nvertex 5 0 0\nclumpend\nclumpbegin\nclumpend\n").registry,
      "2005 4995\r\n");
}

TEST(MeasureModelFile, DebugTraceOfStackAndMatrixCommands) {
  MeasureHarness h;
  h.debug_trace = true;
  h.format = "<ffile>\n";
  const MeasureOutput out =
      h.Run("modelbegin\ntransformbegin\ntranslate 1 2 3\ntransformend\ntransformend\nmodelend\n");
  const std::string translated =
      "1.000000  0.000000  0.000000  0.000000  \r\n"
      "0.000000  1.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  1.000000  0.000000  \r\n"
      "1.000000  2.000000  3.000000  1.000000  \r\n";
  EXPECT_EQ(out.registry, "transformbegin 1\r\nTransformation matrix:\r\n" + translated +
                              "transformend   0\r\nTransformation matrix before:\r\n" + translated +
                              "Transformation matrix:\r\n" + kIdentityDump +
                              "transformend   -1\r\nTransformation matrix before:\r\n" +
                              kIdentityDump + "Transformation matrix:\r\n" + kIdentityDump +
                              "box.rwx\r\n");
  EXPECT_EQ(out.log,
            "Warning:Mismatched transformbegin/end pair (file:" + (h.dir / "model.rwx") + ")\r\n");
}

TEST(MeasureModelFile, DebugTraceOfClumpsPrototypesScaleAndRotate) {
  MeasureHarness h;
  h.debug_trace = true;
  h.format = "<ffile>\n";
  const MeasureOutput out = h.Run(
      "clumpbegin\nscale 2 2 2\nrotate 0 0 1 90\nprotobegin p\nvertex 1 0 0\nprotoend\n"
      "clumpend\n");
  const std::string scaled =
      "2.000000  0.000000  0.000000  0.000000  \r\n"
      "0.000000  2.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  2.000000  0.000000  \r\n"
      "0.000000  0.000000  0.000000  1.000000  \r\n";
  // cos 90 degrees in single precision is -4.37e-8, written -0.000000.
  const std::string rotation =
      "-0.000000  1.000000  0.000000  0.000000  \r\n"
      "-1.000000  -0.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  1.000000  0.000000  \r\n"
      "0.000000  0.000000  0.000000  1.000000  \r\n";
  const std::string rotated =
      "-0.000000  2.000000  0.000000  0.000000  \r\n"
      "-2.000000  -0.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  2.000000  0.000000  \r\n"
      "0.000000  0.000000  0.000000  1.000000  \r\n";
  EXPECT_EQ(out.registry,
            "clumpbegin 1\r\n"
            "Scaled Transformation matrix:\r\n" +
                scaled + "Rot Transformation matrix before :\r\n" + scaled +
                "Rotation matrix :\r\n" + rotation + "Rot Transformation matrix:\r\n" + rotated +
                "Protobegin p 2\r\n"
                "protoend  p 1 0 1\r\nTransformation matrix before:\r\n" +
                kIdentityDump + "Transformation matrix:\r\n" + rotated +
                "clumpend   0\r\nTransformation matrix before:\r\n" + rotated +
                "Transformation matrix:\r\n" + kIdentityDump + "box.rwx\r\n");
  EXPECT_EQ(out.log, "");
}

TEST(MeasureModelFile, MatrixStackLimitAbortsOnThe257thPush) {
  MeasureHarness h;
  MeasureOutput out =
      h.Run("modelbegin\n" + Repeat("transformbegin\n", 256) + "vertex 0 0 0\nmodelend\n");
  EXPECT_EQ(out.result, MeasureResult::kDone);
  EXPECT_EQ(out.registry, "box.rwx 1 -5 -5 -5 5 5 5\r\n");
  for (const char* push : {"transformbegin\n", "clumpbegin\n", "protobegin p\n"}) {
    SCOPED_TRACE(push);
    out = h.Run("modelbegin\n" + Repeat(push, 257) + "vertex 0 0 0\nmodelend\n");
    EXPECT_EQ(out.result, MeasureResult::kAbort);
    EXPECT_EQ(out.registry, "");
    EXPECT_EQ(out.log,
              "Error:Transformation stack exceeds 256 (file:" + (h.dir / "model.rwx") + ")\r\n");
  }
}

TEST(MeasureModelFile, PrototypeTableLimitAbortsAtTheLastDefinition) {
  MeasureHarness h;
  h.format = "<fvert>\n";
  MeasureOutput out =
      h.Run("modelbegin\n" + Repeat("protobegin p\nprotoend\n", 5119) + "vertex 0 0 0\nmodelend\n");
  EXPECT_EQ(out.result, MeasureResult::kDone);
  EXPECT_EQ(out.registry, "1\r\n");
  const std::string file = h.dir / "model.rwx";
  std::string redefinitions;
  for (int i = 1; i < 5119; ++i) {
    redefinitions +=
        "Warning: Multiple prototype definition for:p. Previous instance discarded! (file:" + file +
        ")\r\n";
  }
  EXPECT_EQ(out.log, redefinitions);
  out = h.Run("modelbegin\n" + Repeat("protobegin p\nprotoend\n", 5120) + "modelend\n");
  EXPECT_EQ(out.result, MeasureResult::kAbort);
  EXPECT_EQ(out.registry, "");
  EXPECT_EQ(out.log, redefinitions +
                         "Warning: Multiple prototype definition for:p. Previous instance "
                         "discarded! (file:" +
                         file +
                         ")\r\n"
                         "Error: Prototype Stack size exceeded (5120) (file:" +
                         file + ")\r\n");
}

TEST(MeasureModelFile, PrototypePointsAreBoundedAndTheLineThatPassesTheBoundFails) {
  MeasureHarness h;
  h.format = "<fvert>\n";
  // A density-21 sphere stores 1,766 points: 4,750 of them store 8,388,500, the next one the
  // last 108 of the 8,388,608 allowed, and then fails, as does every later one.
  const MeasureOutput out = h.Run("modelbegin\nprotobegin p\n" + Repeat("sphere 1 21\n", 4752) +
                                  "protoend\nprotoinstance p\nmodelend\n");
  EXPECT_EQ(out.registry, "8388608\r\n");
  EXPECT_EQ(out.log, Repeat("Application error in work.rwx line=sphere 1 21\r\n", 2));
}

TEST(MeasureModelFile, SkipHugeObjects) {
  MeasureHarness h;
  const std::string script = "modelbegin\nvertex 25 0 0\nvertex 0 0 0\nmodelend\n";
  EXPECT_EQ(h.Run(script).registry, "box.rwx 1 5 -5 -5 24995 5 5\r\n");
  h.switches.skip_huge = true;
  const MeasureOutput out = h.Run(script);
  EXPECT_EQ(out.registry, "");
  EXPECT_EQ(out.log, "");
}

TEST(MeasureModelFile, HandleFacersSquaresTheFootprint) {
  MeasureHarness h;
  h.format = "<fleft> <fright> <fback> <ffront> <ffacer>\n";
  const std::string script = "modelbegin\naxisalignment zorienty\nblock 2 1 6\nmodelend\n";
  EXPECT_EQ(h.Run(script).registry, "-995 995 -2995 2995 # Facer\r\n");
  h.switches.handle_facers = true;
  EXPECT_EQ(h.Run(script).registry, "-2995 2995 -2995 2995 # Facer\r\n");
  EXPECT_EQ(h.Run("modelbegin\naxisalignment zorienty\naxisalignment none\nblock 2 1 6\n").registry,
            "-995 995 -2995 2995 \r\n");
}

TEST(MeasureModelFile, NonCenteredAndOverSized) {
  MeasureHarness h;
  h.format = "<fleft> <fright> <fnoncent>|<foversized>\n";
  const std::string script = "modelbegin\nvertex -1 0 0\nvertex 3 0 0\nmodelend\n";
  EXPECT_EQ(h.Run(script).registry, "-995 2995 # Not Centered!|\r\n");
  h.switches.non_centered = true;
  EXPECT_EQ(h.Run(script).registry, "-2995 2995 # Not Centered!|\r\n");
  h.switches.non_centered = false;
  h.switches.oversized = true;
  EXPECT_EQ(h.Run("modelbegin\nblock 1.5 1 1\nmodelend\n").registry, "-745 745 |OverSized!\r\n");
}

TEST(MeasureModelFile, TemplateIsReadLineByLineAndItsLastLineNeedsALineEnd) {
  MeasureHarness h;
  h.format = "<ffile> A\n\n<ffile> B";
  EXPECT_EQ(h.Run("modelbegin\nmodelend\n").registry, "box.rwx A\r\n\r\n");
}

TEST(MeasureModelFile, MissingTemplateIsAnApplicationErrorOfThatLine) {
  MeasureHarness h;
  const std::string script_path = h.dir / "model.rwx";
  testing_support::WriteFile(script_path, "modelbegin\nmodelend\n");
  h.format = "<ffile>\n";
  MeasureOutput out = h.RunFile(script_path);
  ASSERT_EQ(out.registry, "box.rwx\r\n");
  std::filesystem::remove(h.dir / "format.txt");
  // RunFile writes the template again, so call MeasureModelFile here with a path that is missing.
  platform::TextFilePtr log(platform::OpenTextFile(h.dir / "log.txt", platform::OpenMode::kCreate));
  platform::TextFilePtr registry(
      platform::OpenTextFile(h.dir / "reg.txt", platform::OpenMode::kCreate));
  MeasureInput input;
  input.model_path = script_path;
  input.work_path = "unzipwk.$$$";
  input.format_path = h.dir / "missing.txt";
  input.registry = registry.get();
  input.log = log.get();
  input.switches = &h.switches;
  EXPECT_EQ(MeasureModelFile(platform::OpenInStream(script_path, false), input, *h.workspace),
            MeasureResult::kDone);
  log.reset();
  registry.reset();
  EXPECT_EQ(testing_support::ReadFile(h.dir / "log.txt"),
            "Application error in unzipwk.$$$ line=modelend\r\n");
  EXPECT_EQ(testing_support::ReadFile(h.dir / "reg.txt"), "");
}

TEST(MeasureModelFile, BadOwnFormatIsWarnedOncePerTemplateLine) {
  MeasureHarness h;
  h.format = "<ffile%d> <fvert>\n<fpoly>\n";
  const MeasureOutput out = h.Run("modelbegin\nblock 1 1 1\nmodelend\nmodelbegin\nmodelend\n");
  EXPECT_EQ(out.registry, "box.rwx 8\r\n6\r\nbox.rwx 0\r\n0\r\n");
  EXPECT_EQ(out.log, "Warning: Unusable tag format in template line 1: <ffile%d> <fvert>\r\n");
}

TEST(MeasureModelFile, MissingArgumentsCountAsZero) {
  MeasureHarness h;
  h.format = "<fvert> <fleft> <fright> <fbottom> <ftop>\n";
  // translate keeps 0 and scale keeps 1 for what is missing; vertex 7 gives (7, 0, 0), which
  // the later translation moves first: x = (7 + 1) * 2, and the bare vertex lands at x = 2.
  EXPECT_EQ(h.Run("modelbegin\nscale 2\ntranslate 1\nvertex 7\nvertex\nmodelend\n").registry,
            "2 2005 15995 -5 5\r\n");
}

class Corpus : public ::testing::Test {
 protected:
  std::string Path(const char* name) {
    const std::string path = std::string(BOXTALLY_CORPUS) + "/rwx/" + name;
    if (!std::filesystem::exists(path)) return {};
    return path;
  }
};

TEST_F(Corpus, CubeIsTwoTenthsWide) {
  MeasureHarness h;
  const std::string path = Path("cube.rwx");
  if (path.empty())
    GTEST_SKIP() << "needs the third-party corpus beside the clone: " << BOXTALLY_CORPUS;
  h.model_name = "cube.rwx";
  h.format =
      "<ffile> <fvert> <fpoly> <ftext> <fmask> <fcolor> <fleft> <fbottom> <fback> <fright> "
      "<ftop> <ffront>\n";
  MeasureOutput out = h.RunFile(path);
  // 4 instances of a 4-point quad plus 8 vertices; colours (127+25+204+178)/4 and so on.
  EXPECT_EQ(out.registry, "cube.rwx 24 7 droplet dropletm 0x858558 -95 -95 -95 95 95 95\r\n");
  EXPECT_EQ(out.log, "");
  h.integer_mode = false;
  h.format = rwx_test::kDefaultTemplate;
  out = h.RunFile(path);
  EXPECT_EQ(out.registry, "cube.rwx 1 -1.00 -1.00 -1.00  1.00  1.00  1.00\r\n");
}

TEST_F(Corpus, ByteOrderMarkHidesTheFirstLineAndTheClumpOpensTheModel) {
  MeasureHarness h;
  const std::string path = Path("test.rwx");
  if (path.empty())
    GTEST_SKIP() << "needs the third-party corpus beside the clone: " << BOXTALLY_CORPUS;
  h.model_name = "test.rwx";
  h.format =
      "<ffile> <fvert> <fpoly> <ftext> <fmask> <fcolor> <fleft> <fbottom> <fback> <fright> "
      "<ftop> <ffront>\n";
  const MeasureOutput out = h.RunFile(path);
  EXPECT_EQ(out.registry, "test.rwx 4 2   0xffffff -95 -5 5 95 5 95\r\n");
  EXPECT_EQ(out.log, "");
}

TEST_F(Corpus, PanelWithoutFinalNewline) {
  MeasureHarness h;
  const std::string path = Path("p_w200.rwx");
  if (path.empty())
    GTEST_SKIP() << "needs the third-party corpus beside the clone: " << BOXTALLY_CORPUS;
  h.model_name = "p_w200.rwx";
  h.format =
      "<ffile> <fvert> <fpoly> <ftext> <fmask> <fcolor> <fleft> <fbottom> <fback> <fright> "
      "<ftop> <ffront>\n";
  const MeasureOutput out = h.RunFile(path);
  EXPECT_EQ(out.registry, "p_w200.rwx 4 2 tile32  0x000000 -95 5 -5 95 195 5\r\n");
  EXPECT_EQ(out.log, "");
}

}  // namespace
}  // namespace rwx

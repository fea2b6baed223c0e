// BatchMain in web mode: the models of a list fetched from a scripted loopback server and
// measured in the same run, and how such a run ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boxtally/archive/archive_fixtures.h"
#include "boxtally/driver/batch_main.h"
#include "support/fake_web_host.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

using testing_support::FakeWebHost;
using testing_support::ReadFile;
using testing_support::ScriptedServer;
using testing_support::SendBytes;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const char* const kBoxLine = " 1 -995 -995 -995 995 995 995\r\n";

// A zip archive holding one RWX model, as the object path serves it.
std::string ZipReply(const std::string& entry_name) {
  archive_test::EntrySpec entry;
  entry.name = entry_name;
  entry.data = "modelbegin\nblock 2 2 2\nmodelend\n";
  entry.method = 0;
  const std::string zip = archive_test::LocalEntry(entry) + archive_test::EndRecord();
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n\r\n" + zip;
}

class WebRun : public ::testing::Test {
 protected:
  WebRun() : host_(dir_ / "log.txt", work_.path() + "/") {
    WriteFile(dir_ / "fmt.txt", "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n");
    host_.controls.list_file = dir_ / "models.txt";
    host_.controls.connect_fix = true;  // one connection per model
  }
  void Serve(std::vector<testing_support::ServerScript> scripts) {
    server_ = std::make_unique<ScriptedServer>(std::move(scripts));
    host_.controls.url = "http://127.0.0.1:" + std::to_string(server_->port());
  }
  driver::RunOutcome Run() {
    return driver::RunBatch(host_, {"boxtally.exe", host_.controls.list_file, dir_ / "fmt.txt",
                                    "-r", "-o" + (dir_ / "reg.txt")});
  }
  std::string Registry() const { return ReadFile(dir_ / "reg.txt"); }

  TempDir dir_, work_;
  FakeWebHost host_;
  std::unique_ptr<ScriptedServer> server_;
};

}  // namespace

TEST_F(WebRun, MeasuresTheWholeListAndEndsWithDone) {
  Serve({{SendBytes(ZipReply("tree.rwx"))}, {SendBytes(ZipReply(".x.rwx"))}});
  WriteFile(dir_ / "models.txt", "Tree.rwx\n.x\n");
  const driver::RunOutcome outcome = Run();
  EXPECT_EQ(outcome.end, driver::RunEnd::kCompleted);
  EXPECT_EQ(outcome.result, 0);
  // ".x" gives ".x.zip": found by its own name although it is a dot-file.
  EXPECT_EQ(Registry(), std::string("tree.rwx") + kBoxLine + ".x.rwx" + kBoxLine);
  EXPECT_EQ(host_.status.back(), "1:Done!");
  EXPECT_EQ(host_.list.stream, nullptr);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"), "");
}

TEST_F(WebRun, AListThatYieldsNoModelLeavesTheRegistryAlone) {
  WriteFile(dir_ / "reg.txt", "an older registry\r\n");
  host_.controls.list_file = dir_ / "missing.txt";
  driver::RunOutcome outcome = Run();
  EXPECT_EQ(outcome.end, driver::RunEnd::kListUnopenable);
  EXPECT_EQ(outcome.about, dir_ / "missing.txt");
  EXPECT_EQ(outcome.result, 1);

  Serve({{SendBytes("HTTP/1.0 404 Not Found\r\n\r\n")}});
  host_.controls.list_file = dir_ / "models.txt";
  WriteFile(dir_ / "models.txt", "# nothing but\nmissing.rwx\n");
  outcome = Run();
  EXPECT_EQ(outcome.end, driver::RunEnd::kNoWebModel);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(Registry(), "an older registry\r\n");
  EXPECT_TRUE(host_.status.empty() || host_.status.back() != "1:Done!");
}

TEST_F(WebRun, TheStopButtonDuringADownloadEndsTheRunAfterThatModel) {
  testing_support::ServerScript slow;
  testing_support::AppendDrip(slow, ZipReply("a.rwx"), 40, 20);
  Serve({slow, {SendBytes(ZipReply("b.rwx"))}});
  WriteFile(dir_ / "models.txt", "a.rwx\nb.rwx\n");
  host_.on_pump = [&] {
    if (host_.http.BytesRecvd > 0) host_.stop = true;
  };
  const driver::RunOutcome outcome = Run();
  EXPECT_EQ(outcome.end, driver::RunEnd::kStopped);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));  // only a completed run makes it
  EXPECT_EQ(server_->connections(), 1);
  EXPECT_EQ(host_.status.back(), "1:Done!");
  EXPECT_EQ(host_.list.stream, nullptr);
  ASSERT_EQ(outcome.results.size(), 2u);
  EXPECT_EQ(outcome.results[1].name, "b.rwx");
  EXPECT_EQ(outcome.results[1].fate, driver::Fate::kNotReached);
  EXPECT_EQ(outcome.results[1].reason, driver::Reason::kRunStopped);
}

TEST_F(WebRun, GivesEveryListEntryOneResultInListOrder) {
  using driver::Fate;
  using driver::Reason;
  Serve({{SendBytes(ZipReply("a.rwx"))},
         {SendBytes("HTTP/1.0 404 Not Found\r\n\r\n")},
         {SendBytes("HTTP/1.0 500 Oops\r\n\r\n")},
         {SendBytes(ZipReply("d.rwx"))},
         {testing_support::ResetConnection()}});
  WriteFile(dir_ / "models.txt", "a.rwx\n../x.rwx\nmissing.rwx\nbroken.rwx\nd.rwx\nreset.rwx\n");
  const driver::RunOutcome outcome = Run();
  EXPECT_EQ(outcome.end, driver::RunEnd::kCompleted);
  EXPECT_EQ(outcome.counts.found, 6u);  // known once the list is read
  struct Expected {
    const char* name;
    Fate fate;
    Reason reason;
    const char* facts;
  };
  const Expected expected[] = {
      {"a.rwx", Fate::kMeasured, Reason::kNone, ""},
      {"../x.rwx", Fate::kRefused, Reason::kNameNotPlain, ""},
      {"missing.rwx", Fate::kMissingOnServer, Reason::kHttpStatus, "404"},
      {"broken.rwx", Fate::kNotDownloaded, Reason::kHttpStatus, "500"},
      {"d.rwx", Fate::kMeasured, Reason::kNone, ""},
      {"reset.rwx", Fate::kNotDownloaded, Reason::kConnectionFailed,
       "10054:Connection reset by peer"},
  };
  ASSERT_EQ(outcome.results.size(), std::size(expected));
  const std::string log = ReadFile(dir_ / "log.txt");
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const driver::ModelOutcome& r = outcome.results[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(r.name, expected[i].name);
    EXPECT_EQ(r.fate, expected[i].fate);
    EXPECT_EQ(r.reason, expected[i].reason);
    EXPECT_EQ(r.facts, expected[i].facts);
    if (r.fate != Fate::kRefused) {
      EXPECT_EQ(r.source, host_.controls.url + "/" + r.name.substr(0, r.name.size() - 3) + "zip");
    }
    // Each entry's own log lines name it.
    if (r.fate != Fate::kMeasured) {
      EXPECT_NE(log.substr(r.log_offset, r.log_length).find(r.name.substr(0, 5)),
                std::string::npos);
    }
  }
}

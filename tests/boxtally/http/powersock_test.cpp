#include "boxtally/http/powersock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "boxtally/http/recording_events.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using http::TPowersock;
using testing_support::PauseFor;
using testing_support::RecordingEvents;
using testing_support::ScriptedServer;
using testing_support::SendBytes;
using testing_support::ServerScript;

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(PowersockConnect, DottedAddressNeedsNoLookupAndANameIsLookedUp) {
  ScriptedServer server({ServerScript{}});
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    RecordingEvents events;
    TPowersock sock(&events);
    sock.Host = host;
    sock.Port = server.port();
    sock.TimeOut = 5000;
    const http::SockResult connected = sock.Connect();
    ASSERT_TRUE(connected.ok) << connected.error;
    EXPECT_TRUE(sock.Connected());
    // "localhost" may also give an IPv6 address, where nothing listens: the next one is tried.
    const std::vector<std::string> expected =
        std::string(host) == "localhost" ? std::vector<std::string>{"HostResolved", "Connect"}
                                         : std::vector<std::string>{"Connect"};
    EXPECT_EQ(events.events, expected);

    const http::SockResult again = sock.Connect();
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, "Already connected");
    sock.Disconnect();
    sock.Disconnect();  // a second one has nothing to close, and says so all the same
    EXPECT_EQ(events.Count("Disconnect"), 2);
  }
}

TEST(PowersockConnect, AnUnknownNameRaisesOnInvalidHostOnce) {
  ScriptedServer server({ServerScript{}});
  struct Case {
    const char* label;
    std::function<bool(TPowersock&)> handler;
    const char* error;  // nullptr: connects
  };
  const Case cases[] = {
      {"not handled", [](TPowersock&) { return false; }, "Null Remote Address"},
      {"another address",
       [](TPowersock& sock) {
         sock.Host = "127.0.0.1";
         return true;
       },
       nullptr},
      {"another unknown name",
       [](TPowersock& sock) {
         sock.Host = "still-nothing.invalid";
         return true;
       },
       "Null Remote Address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingEvents events;
    TPowersock sock(&events);
    events.on_invalid_host = [&] { return c.handler(sock); };
    sock.Host = "nothing.invalid";
    sock.Port = server.port();
    sock.TimeOut = 5000;
    const http::SockResult connected = sock.Connect();
    EXPECT_EQ(events.Count("InvalidHost"), 1);
    if (c.error == nullptr) {
      EXPECT_TRUE(connected.ok) << connected.error;
      EXPECT_EQ(events.Count("Connect"), 1);
    } else {
      EXPECT_FALSE(connected.ok);
      EXPECT_EQ(connected.error, c.error);
      EXPECT_EQ(sock.LastErrorNo, 11001);
      EXPECT_EQ(events.Count("ConnectionFailed"), 0);
    }
  }
}

TEST(PowersockConnect, RefusedConnectionFailsWithItsNumber) {
  RecordingEvents events;
  TPowersock sock(&events);
  sock.Host = "127.0.0.1";
  sock.Port = testing_support::FreeLoopbackPort();
  sock.TimeOut = 2000;
  const http::SockResult connected = sock.Connect();
  EXPECT_FALSE(connected.ok);
  EXPECT_EQ(connected.error, "Connection Failed");
  EXPECT_EQ(sock.LastErrorNo, 10061);
  EXPECT_FALSE(sock.TimedOut);
  EXPECT_EQ(events.events, std::vector<std::string>{"ConnectionFailed"});
}

class PowersockRead : public ::testing::Test {
 protected:
  // Connects to a server that plays `script` after reading the request sent by Write.
  void Open(testing_support::ServerScript script, int timeout_ms = 2000) {
    server_ = std::make_unique<ScriptedServer>(std::vector<testing_support::ServerScript>{script});
    sock_.Host = "127.0.0.1";
    sock_.Port = server_->port();
    sock_.TimeOut = timeout_ms;
    ASSERT_TRUE(sock_.Connect().ok);
    ASSERT_TRUE(sock_.Writeln("HELLO\r\n").ok);
  }

  RecordingEvents events_;
  TPowersock sock_{&events_};
  std::unique_ptr<ScriptedServer> server_;
};

TEST_F(PowersockRead, ReadLnHoldsAPartialLineUntilItsFeedAndEndsAtTheClose) {
  Open({SendBytes("ab"), PauseFor(100), SendBytes("c\r\nsecond\nlast")});
  const std::vector<std::string> expected = {"abc\r\n", "second\n", "last", "", ""};
  for (const std::string& want : expected) {
    std::string line = "junk";
    const http::SockResult read = sock_.ReadLn(line);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(line, want);
  }
  EXPECT_EQ(server_->requests(), std::vector<std::string>{"HELLO\r\n\r\n"});
}

TEST_F(PowersockRead, ReadLnTakesALineOf65536BytesAndNoLonger) {
  const std::string fits = std::string(65535, 'a') + "\n";
  const std::string too_long = std::string(65536, 'b') + "\n";
  Open({SendBytes(fits + too_long)});
  std::string line;
  ASSERT_TRUE(sock_.ReadLn(line).ok);
  EXPECT_EQ(line, fits);
  const http::SockResult read = sock_.ReadLn(line);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "Socket readln line longer than 65536 bytes");
}

TEST_F(PowersockRead, ReadLnTimesOutAndTheComponentStaysUsable) {
  Open({SendBytes("no feed"), PauseFor(1500), SendBytes(" yet\n")}, 200);
  sock_.ReportLevel = http::kStatusTrace;
  std::string line;
  const http::SockResult read = sock_.ReadLn(line);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "Socket readln aborted");
  EXPECT_TRUE(sock_.TimedOut);
  EXPECT_TRUE(Contains(events_.statuses, "Timer On"));
  EXPECT_TRUE(Contains(events_.statuses, "Timer Triggered"));

  sock_.TimeOut = 5000;
  ASSERT_TRUE(sock_.ReadLn(line).ok);
  EXPECT_EQ(line, "no feed yet\n");  // what the failed read had seen waits for the next
  EXPECT_FALSE(sock_.TimedOut);
  EXPECT_EQ(events_.statuses.back(), "Timer Off");
}

TEST_F(PowersockRead, AbortFromTheMessagePumpEndsTheWaitAndConnectClearsIt) {
  Open({PauseFor(3000), SendBytes("late\n")}, 0);  // no time-out: only Abort ends the wait
  int pumps = 0;
  sock_.SetMessagePump([&] {
    if (++pumps == 3) sock_.Abort();
  });
  std::string line;
  const http::SockResult read = sock_.ReadLn(line);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "Socket readln aborted");
  EXPECT_FALSE(sock_.TimedOut);
  EXPECT_EQ(pumps, 3);
  sock_.Disconnect();

  // An Abort between steps is forgotten by the next Connect.
  sock_.SetMessagePump({});
  sock_.Abort();
  EXPECT_TRUE(sock_.Connect().ok);
}

TEST_F(PowersockRead, CaptureStringStopsAtItsLimit) {
  Open({SendBytes("0123456789")});
  std::string text;
  ASSERT_TRUE(sock_.CaptureString(text, 4).ok);
  EXPECT_EQ(text, "0123");
  EXPECT_EQ(sock_.BytesRecvd, 4);
  ASSERT_TRUE(sock_.CaptureString(text, -1).ok);
  EXPECT_EQ(text, "456789");
  EXPECT_EQ(sock_.BytesRecvd, 6);
}

TEST_F(PowersockRead, CaptureFileThatCannotBeCreatedFails) {
  Open({SendBytes("x")});
  testing_support::TempDir dir;
  const std::string path = dir / "missing/body.bin";
  const http::SockResult captured = sock_.CaptureFile(path);
  EXPECT_FALSE(captured.ok);
  EXPECT_EQ(captured.error, "Cannot create " + path);
}

TEST(PowersockSend, SendFileCountsEveryPieceAndWriteFailsWhenNotConnected) {
  testing_support::TempDir dir;
  const std::string path = dir / "upload.bin";
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  testing_support::WriteFile(path, content);

  ScriptedServer server({ServerScript{}});
  RecordingEvents events;
  TPowersock sock(&events);
  sock.Host = "127.0.0.1";
  sock.Port = server.port();
  ASSERT_TRUE(sock.Connect().ok);
  ASSERT_TRUE(sock.SendFile(path).ok);
  EXPECT_EQ(sock.BytesSent, 200000);
  EXPECT_GE(events.Count("PacketSent"), 4);  // pieces of at most 65536 bytes
  ASSERT_TRUE(sock.SendFile(path).ok);
  EXPECT_EQ(sock.BytesSent, 400000);  // never reset
  sock.Disconnect();

  const http::SockResult written = sock.Write("x");
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.error, "10057:Socket is not connected");
  EXPECT_EQ(sock.LastErrorNo, 10057);
  for (int i = 0; i < 300 && server.connections() == 0; ++i) usleep(10000);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].size(), 400000u);
}

}  // namespace

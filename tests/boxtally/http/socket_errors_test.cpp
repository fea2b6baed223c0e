#include "boxtally/http/socket_errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace {

TEST(SocketErrorText, GivesNumberAndDescriptionOrTheUnknownText) {
  struct Case {
    int number;
    const char* text;
  };
  const Case cases[] = {
      {10004, "10004:Interrupted system call"},  // the table's first entry
      {10061, "10061:Connection refused"},
      {10047, "10047:Address family not supported by protocol family"},
      {10093, "10093:Successful WSAStartup not yet performed"},
      {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
      {11004, "11004:Valid name, no data record of requested type"},  // the last numbered entry
      {0, ""},                                                        // 0 is not looked up
      {10072, "Unknown Error No. 10072"},                             // a gap in the table
      {10034, "Unknown Error No. 10034"},
      {-1, "Unknown Error No. -1"},
      {10061 + 65536, "75597:Connection refused"},  // numbers are compared as 16-bit values
      {65536, "65536:Unrecognized error code"},     // ... so this one reaches the closing entry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(http::SocketErrorText(c.number), c.text);
  }
}

TEST(SocketErrorNumbers, MapErrnoAndLookupFailuresOntoTheTable) {
  struct Case {
    int errno_value;
    int number;
  };
  const Case cases[] = {
      {ECONNREFUSED, 10061},
      {ETIMEDOUT, 10060},
      {ECONNRESET, 10054},
      {ECONNABORTED, 10053},
      {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065},
      {EADDRINUSE, 10048},
      {EAGAIN, 10035},
      {EPIPE, 10054},  // a send into a connection the peer reset
      {0, 0},
      {EIO, EIO},  // no counterpart: kept, and shown as an unknown number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errno_value);
    EXPECT_EQ(http::WinsockErrorFromErrno(c.errno_value), c.number);
  }
  EXPECT_EQ(http::WinsockErrorFromLookup(EAI_NONAME, 0), 11001);
  EXPECT_EQ(http::WinsockErrorFromLookup(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(http::WinsockErrorFromLookup(EAI_FAIL, 0), 11003);
  EXPECT_EQ(http::WinsockErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(http::WinsockErrorFromLookup(0, 0), 0);
}

}  // namespace

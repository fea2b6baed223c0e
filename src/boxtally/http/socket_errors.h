// Socket error numbers and their texts. Errors keep the Windows Sockets numbering of the error
// table on every platform, so a log line reads the same wherever it was written: errno values
// and host-lookup failures are mapped onto it before they are stored or shown.
#pragma once

#include <string>

namespace http {

inline constexpr int kWouldBlock = 10035;    // never raised: the step waits and tries again
inline constexpr int kHostNotFound = 11001;  // the name does not exist

// The Windows Sockets number for an errno value of a socket call; an errno without a
// counterpart in the table is returned unchanged (and shows as "Unknown Error No. N").
int WinsockErrorFromErrno(int errno_value);

// The number for a getaddrinfo() failure (EAI_*); EAI_SYSTEM is read through `errno_value`.
int WinsockErrorFromLookup(int lookup_error, int errno_value);

// "N:description" for a number of the table (compared as 16-bit values), "Unknown Error No. N"
// for any other number, and the empty text for 0.
std::string SocketErrorText(int number);

}  // namespace http

// The two kinds of list file the web fetch reads: a plain list, one model name per line (read in
// text mode), and a propdump, the dump of a world's objects, read byte for byte as records of
// eleven numbers and three texts. Both readers take one entry per call from a stream; they hold
// no state of their own, so they can be fed any bytes.
#pragma once

#include <cstddef>
#include <string>

#include "platform/text_file.h"

namespace web {

inline constexpr std::size_t kMaxListLine = 1023;     // characters of a plain list line
inline constexpr int kPropdumpNumbers = 11;           // numbers in front of a record's texts
inline constexpr std::size_t kMaxPropdumpName = 255;  // bytes of a record's model name
inline constexpr std::size_t kMaxPropdumpText = 256;  // bytes of each of its two other texts
inline constexpr std::size_t kPropdumpLineEnd = 2;    // bytes after the texts (CR LF)

enum class EntryRead {
  kEntry,    // `text` holds the entry: a plain line without its line end, or a record's name
  kDropped,  // a header line or a damaged record, dropped to the end of its line
  kTooLong,  // a plain line over kMaxListLine characters, dropped whole; `text` holds its start
  kEnd,      // no entry is left
};

// The next line of a plain list. A last line without a line end is an entry too.
EntryRead ReadListLine(platform::InStream& in, std::string& text);

// The next propdump record: eleven decimal numbers separated by white space (line ends
// included), the ninth to eleventh being the byte lengths of three texts; one separator byte;
// the three texts back to back; then the two bytes of the record's line end, which a last record
// may lack. `text` receives the first text, the model name, up to a NUL byte if it holds one.
// Numbers missing, or lengths over kMaxPropdumpName / kMaxPropdumpText, drop the rest of the
// line; texts cut short by the end of the file drop the record.
EntryRead ReadPropdumpRecord(platform::InStream& in, std::string& text);

}  // namespace web

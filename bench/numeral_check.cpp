// Checks the reader's number parser against the C library's scanf "%f" over many random and
// adversarial numerals (tests/support/numerals.h), and times both.
//   numeral_check [COUNT (default 30,000,000)] [SEED]
// Prints the count, the numerals read as numbers, every difference (the first 20 in full) and
// the time per numeral of each; exits 1 when any differs.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "boxtally/rwx/script_reader.h"
#include "support/numerals.h"

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 30000000;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  testing_support::NumeralMaker maker(seed);
  long long numbers = 0;
  long long differences = 0;
  double scanf_seconds = 0;
  double reader_seconds = 0;
  constexpr long long kBatch = 100000;  // numerals made, then read by each, then compared
  std::vector<std::string> texts(kBatch);
  std::vector<testing_support::NumeralReading> expected(kBatch);
  std::vector<float> values(kBatch);
  std::vector<std::size_t> lengths(kBatch);
  using Clock = std::chrono::steady_clock;
  for (long long done = 0; done < count; done += kBatch) {
    const long long n = std::min(kBatch, count - done);
    for (long long i = 0; i < n; ++i) texts[i] = maker.Next();
    auto t0 = Clock::now();
    for (long long i = 0; i < n; ++i) expected[i] = testing_support::ScanfReading(texts[i]);
    auto t1 = Clock::now();
    for (long long i = 0; i < n; ++i) lengths[i] = rwx::ReadRealPrefix(texts[i], values[i]);
    auto t2 = Clock::now();
    scanf_seconds += std::chrono::duration<double>(t1 - t0).count();
    reader_seconds += std::chrono::duration<double>(t2 - t1).count();
    for (long long i = 0; i < n; ++i) {
      const testing_support::NumeralReading& e = expected[i];
      numbers += e.ok ? 1 : 0;
      const bool same = (lengths[i] > 0) == e.ok &&
                        (!e.ok || (lengths[i] == e.length &&
                                   std::bit_cast<std::uint32_t>(values[i]) == e.bits));
      if (same) continue;
      if (++differences <= 20) {
        std::printf("differs: \"%s\": scanf %d %zu %08x, reader %zu %08x\n", texts[i].c_str(),
                    e.ok ? 1 : 0, e.length, e.bits, lengths[i],
                    std::bit_cast<std::uint32_t>(values[i]));
      }
    }
  }
  std::printf(
      "numerals: %lld (%lld of them numbers), differences: %lld; per numeral: scanf %.1f ns, "
      "reader %.1f ns\n",
      count, numbers, differences, 1e9 * scanf_seconds / static_cast<double>(count),
      1e9 * reader_seconds / static_cast<double>(count));
  return differences == 0 ? 0 : 1;
}

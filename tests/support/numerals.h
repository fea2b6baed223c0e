// Numerals as scripts hold them and as they should not, random and adversarial, and what the C
// library's scanf "%f" reads from each: the reader's number parser must give the same float, bit
// for bit, and take the same characters. Shared by the unit test (a few thousand numerals) and
// bench/numeral_check (tens of millions).
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace testing_support {

struct NumeralReading {
  bool ok = false;          // a number was read
  std::size_t length = 0;   // its characters
  std::uint32_t bits = 0;   // the float's bits
};

// What sscanf("%f") reads from the start of `text`, held to the numbers a script's reader takes,
// which differ from the C library's in three documented ways: a hexadecimal number is read up
// to its "x" (so "0x10" is 0), "inf" and "nan" are no numbers, and an exponent mark that no digit
// follows ("1e", "1e+") is no part of the number, whose value does not change by it.
inline NumeralReading ScanfReading(const std::string& text) {
  const std::size_t s = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  const char first = s < text.size() ? static_cast<char>(text[s] | 0x20) : '\0';
  if (first == 'i' || first == 'n') return {};
  std::string input = text;
  if (first == '0' && s + 1 < text.size() && (text[s + 1] | 0x20) == 'x') {
    input = text.substr(0, s + 1);
  }
  float value = 0.0f;
  int consumed = -1;
  if (std::sscanf(input.c_str(), "%f%n", &value, &consumed) != 1 || consumed <= 0) return {};
  std::size_t length = static_cast<std::size_t>(consumed);
  auto is_e = [&](std::size_t i) { return (input[i] | 0x20) == 'e'; };
  if (length >= 2 && (input[length - 1] == '+' || input[length - 1] == '-') && is_e(length - 2)) {
    length -= 2;
  } else if (length >= 1 && is_e(length - 1)) {
    length -= 1;
  }
  return {true, length, std::bit_cast<std::uint32_t>(value)};
}

// Makes numerals: short decimals as scripts hold them, long mantissas, exponents at the edges of
// the float range, the decimal forms of the points halfway between two floats, and the words,
// signs, points and hexadecimal forms that a parser may take wrongly, most of them followed by
// something that is no part of the number.
class NumeralMaker {
 public:
  explicit NumeralMaker(std::uint64_t seed) : rng_(seed) {}

  std::string Next() {
    std::string text;
    switch (Pick(8)) {
      case 0:
      case 1:
        text = ShortDecimal();
        break;
      case 2:
        text = LongMantissa();
        break;
      case 3:
        text = ShortDecimal() + Exponent();
        break;
      case 4:
        text = Halfway();
        break;
      case 5:
        text = EdgeOfRange();
        break;
      case 6:
        text = Odd();
        break;
      default:
        text = Sign() + Digits(1 + Pick(9));
        text += '.';
        text += Digits(Pick(9));
        break;
    }
    if (text.empty()) text.push_back('0');  // scanf would skip the blanks a tail may start with
    if (Pick(3) == 0) text += Tail();
    return text;
  }

 private:
  std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  std::string Digits(std::size_t n) {
    std::string d;
    for (std::size_t i = 0; i < n; ++i) d += static_cast<char>('0' + Pick(10));
    return d;
  }
  std::string Sign() {
    static const char* const kSigns[] = {"", "", "-", "+"};
    return kSigns[Pick(4)];
  }
  std::string ShortDecimal() {
    std::string t = Sign() + Digits(Pick(9));
    if (Pick(4) != 0) {
      t += '.';
      t += Digits(Pick(12));
    }
    return t;
  }
  std::string LongMantissa() {
    std::string t = Sign();
    t.append(Pick(3) == 0 ? Pick(60) : 0, '0');
    t += Digits(Pick(40));
    t += '.';
    t.append(Pick(2) == 0 ? Pick(60) : 0, '0');
    t += Digits(1 + Pick(Pick(8) == 0 ? 800 : 40));
    return t;
  }
  std::string Exponent() {
    static const char* const kMarks[] = {"e", "E", "e+", "e-", "E-"};
    static const int kEdges[] = {0, 1, 37, 38, 39, 44, 45, 46, 47, 60, 400, 99999};
    const int exponent = Pick(2) == 0 ? kEdges[Pick(12)] : static_cast<int>(Pick(60));
    return kMarks[Pick(5)] + std::to_string(exponent);
  }
  // The exact decimal form of the point halfway between a float and the next one (or near it),
  // where only correct rounding gives the right float.
  std::string Halfway() {
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng_() % 0x7F7FFFFFu));
    const double middle = (static_cast<double>(f) + std::nextafter(f, FLT_MAX)) / 2;
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.*e", static_cast<int>(8 + Pick(40)), middle);
    std::string t = buffer;
    if (Pick(3) == 0) t.back() = static_cast<char>('0' + Pick(10));
    return Sign() + t;
  }
  std::string EdgeOfRange() {
    static const char* const kEdges[] = {
        "3.4028234e38",    "3.40282346639e38", "3.4028235677973366e38", "3.4028236e38",
        "1e39",            "1.17549435e-38",   "1.1754942e-38",         "1.4e-45",
        "1.401298e-45",    "7.00649232e-46",   "7.006492321624085e-46", "7.0064923e-46",
        "7e-46",           "1e-46",            "0.000000000000000000000000000000000000000000001",
        "16777216",        "16777217",         "16777218",              "16777219",
        "33554431",        "0.1",              "0.3",                   "2.5",
    };
    return Sign() + kEdges[Pick(std::size(kEdges))];
  }
  std::string Odd() {
    static const char* const kOdd[] = {
        ".5",   "5.",   ".",     "-.",      "+",        "-",     "e5",   "1e",   "1e+",
        "1e-x", "1.5.5", "0x10", "0x1p3",   "0X1.8P1",  "0x",    "0xg",  "inf",  "-INF",
        "nan",  "NaN(12)", "infinity", "Infinity", "00000.000001", "+.5", "+0", "-0", "0e",
        "1E5",  "1..2", ".e1",  "5e-",     "0.e1",     "9" "999999999999999999999",
    };
    return Sign() + kOdd[Pick(std::size(kOdd))];
  }
  std::string Tail() {
    static const char kTail[] = "x ,;eE+-.0\t";
    std::string t;
    for (std::size_t n = 1 + Pick(3); n > 0; --n) t += kTail[Pick(sizeof kTail - 1)];
    return t;
  }

  std::mt19937_64 rng_;
};

}  // namespace testing_support

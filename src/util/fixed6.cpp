#include "util/fixed6.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zelvik {
namespace {

__extension__ typedef unsigned __int128 U128;

// Values up to here keep value * 10^6 inside 64 bits; larger ones (never a coordinate) and
// the non-finite ones go through printf itself.
constexpr double kFastLimit = 1e13;

char* PutUnsigned(std::uint64_t v, char* p) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

}  // namespace

int FormatFixed6(double value, char* out) {
  if (!(std::fabs(value) < kFastLimit)) {
    int n = std::snprintf(out, kFixed6Size, "%f", value);
    return n < 0 ? 0 : n;
  }
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  const bool negative = (bits >> 63) != 0;
  const unsigned biased = static_cast<unsigned>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  // value = mantissa * 2^exponent exactly.
  const std::uint64_t mantissa = biased == 0 ? fraction : (fraction | (std::uint64_t{1} << 52));
  const int exponent = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;

  // Scaled = mantissa * 10^6 < 2^73, exact; then rounded to an integer half to even.
  const U128 scaled = static_cast<U128>(mantissa) * 1000000u;
  std::uint64_t micros;
  if (exponent >= 0) {
    micros = static_cast<std::uint64_t>(scaled << exponent);
  } else if (-exponent >= 75) {
    micros = 0;  // below 0.25 millionths: rounds to zero
  } else {
    const int shift = -exponent;
    micros = static_cast<std::uint64_t>(scaled >> shift);
    const U128 rest = scaled & ((static_cast<U128>(1) << shift) - 1);
    const U128 half = static_cast<U128>(1) << (shift - 1);
    if (rest > half || (rest == half && (micros & 1) != 0)) ++micros;
  }

  char* p = out;
  if (negative) *p++ = '-';
  p = PutUnsigned(micros / 1000000, p);
  std::uint32_t frac = static_cast<std::uint32_t>(micros % 1000000);
  *p++ = '.';
  for (int i = 5; i >= 0; --i) {
    p[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  p += 6;
  *p = '\0';
  return static_cast<int>(p - out);
}

}  // namespace zelvik

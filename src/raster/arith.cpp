#include "raster/arith.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace lumivor {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long product = static_cast<long long>(a) * b;
  // Round the magnitude half up, then restore the sign: halves go away from zero.
  const unsigned long long magnitude = product < 0 ? 0ULL - static_cast<unsigned long long>(product)
                                                   : static_cast<unsigned long long>(product);
  const unsigned long long divisor = c < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(c))
                                           : static_cast<unsigned long long>(c);
  const unsigned long long quotient = (magnitude + divisor / 2) / divisor;
  if (quotient > static_cast<unsigned long long>(INT_MAX)) return -1;
  const bool negative = (product < 0) != (c < 0);
  return negative ? -static_cast<int>(quotient) : static_cast<int>(quotient);
}

namespace {

int saturate(long double x) {
  if (std::isnan(x)) return 0;
  if (x >= static_cast<long double>(INT_MAX)) return INT_MAX;
  if (x <= static_cast<long double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(x);
}

}  // namespace

int Round(long double x) {
  // Not std::rint: the result must not depend on the caller's floating-point rounding mode.
  const long double down = std::floor(x);
  const long double fraction = x - down;
  long double r = down;
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(down, 2.0L) != 0.0L)) r = down + 1.0L;
  return saturate(r);
}

int Trunc(long double x) { return saturate(std::trunc(x)); }

int Ceil(long double x) { return saturate(std::ceil(x)); }

}  // namespace lumivor

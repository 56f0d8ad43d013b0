// Integer conventions shared by the frame and effect code.
#pragma once

#include <cstdint>

namespace lumivor {

// a * b / c with a 64-bit intermediate, rounded to nearest with halves away from zero
// (MulDiv(-49, 82, 50) = -80). A zero divisor or a result that does not fit gives -1, which is what
// the frame code has always received from the platform routine in those cases.
int MulDiv(int a, int b, int c);

// Nearest integer, ties to the even neighbour (Round(2.5) = 2, Round(-3.5) = -4). Values beyond the
// int range saturate.
int Round(long double x);

// Toward zero. Plain C++ integer division already truncates toward zero and % takes the sign of the
// dividend, so "a div b" and "a mod b" are written as / and % in the effects.
int Trunc(long double x);

// Smallest integer not below x.
int Ceil(long double x);

// pi to full extended precision; angles of the effects are computed in long double.
inline constexpr long double Pi = 3.141592653589793238462643383279502884L;

}  // namespace lumivor

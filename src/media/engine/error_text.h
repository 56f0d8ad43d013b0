// Library error codes to text, and the growable arrays the engine's records are built from.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace lumivor {

struct ErrorTextRow {
  int Code;
  const char* Text;
};

// The whole table, in search order (the first row with a code wins).
const ErrorTextRow* ErrorTextTable();
int ErrorTextTableSize();

// The table's text for code, "Error number %d occurred" for an unknown code; with a non-empty
// prefix the result is prefix + ": " + text.
std::string ErrorText(const std::string& prefix, int code);
inline std::string ErrorText(int code) { return ErrorText(std::string(), code); }

// Grows a block of count elements of elementSize bytes to newCount elements, zeroing the new part,
// and sets count. A smaller or equal newCount leaves the block as it is. Raises FFmpegException
// "Array too big." when newCount would overflow a 32-bit byte size and "Could not alloc buffer."
// when the memory cannot be had. The block belongs to the caller and is freed with std::free.
void* GrowArray(void* array, int elementSize, int& count, int newCount);

template <typename T>
T* GrowArray(T* array, int& count, int newCount) {
  // Zero-filled bytes must be a valid element, and realloc moves elements bytewise.
  static_assert(std::is_trivially_copyable_v<T>, "GrowArray holds plain records and pointers only");
  return static_cast<T*>(GrowArray(static_cast<void*>(array), static_cast<int>(sizeof(T)), count, newCount));
}

}  // namespace lumivor

#pragma once

// One rule for every file name handed to the media libraries, and its
// reverse for names that come back from them.
//
// Names here are UTF-8 throughout, which is also what the libraries take, so
// a valid name passes unchanged. The "unicode" protocol that carried names
// the 8-bit code page could not represent is never registered (the libraries
// of this generation offer no public way to register a protocol); its prefix
// rules are kept so that a registered protocol would slot in.

#include <string>

namespace lumivor {

inline constexpr char UnicodeProtocolPrefix[] = "unicode:utf8:";

// The codec id the name's extension stands for among the libraries' image
// sequence extensions (48 of them, letter case ignored); 0 for other names.
int IsImageFileName(const std::string& name);

// True only for names that are not valid UTF-8; never for names of the
// protocols listed as unprefixed (http:, pipe:, ...).
bool NeedsUnicodeProtocol(const std::string& name);

// False: see above. Conversions work the same either way.
bool RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

// Returned by value: there is no shared result buffer to be overwritten by
// the next conversion and no length limit.
std::string ToLibraryFileName(const std::string& name);
std::string FromLibraryFileName(const std::string& libraryName);

namespace detail {
// The rules with the registration state given, so both branches are testable.
std::string ToLibraryFileName(const std::string& name, bool protocolRegistered);
std::string FromLibraryFileName(const std::string& libraryName, bool protocolRegistered);
bool IsValidUtf8(const std::string& text);
}  // namespace detail

}  // namespace lumivor

// What every sub-command shares about talking to a person: standard output that may be a full
// disk or a closed pipe, and terminals that must not take a media file's text for commands.
#pragma once

#include <string>

namespace lumivor::cli {

// Puts std::cout on a buffer of its own over descriptor 1 that remembers why a write failed (the
// C library's own buffer forgets it). Line-buffered on a terminal, like the C library. Call once,
// first thing in main.
void TakeOverStandardOutput();

// Flushes standard output (C++ and C streams). When anything written to it since the start was
// lost, prints "lumivor COMMAND: cannot write to standard output: REASON" on stderr and returns
// false. An empty command leaves its word out.
bool FinishStandardOutput(const std::string& command);

// text with every byte a terminal would act on written out instead: control characters other
// than line feed and tab, DEL, the C1 controls (U+0080..U+009F) and bytes that are not valid
// UTF-8 become "\xHH". Printable text, UTF-8 included, is kept.
std::string TerminalSafeText(const std::string& text);

// True when the descriptor is a terminal: text for it goes through TerminalSafeText, text for a
// file or a pipe keeps its bytes.
bool IsTerminal(int fd);

}  // namespace lumivor::cli

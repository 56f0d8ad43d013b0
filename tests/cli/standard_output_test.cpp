// What a terminal gets of a media file's text.
#include "cli/standard_output.h"

#include <gtest/gtest.h>

#include <string>

namespace lumivor::cli {
namespace {

TEST(TerminalSafeTextTest, OnlyWhatATerminalWouldActOnIsWrittenOut) {
  struct Case {
    std::string Text, Expected;
  };
  const Case cases[] = {
      {"plain text, tab\tand\nline", "plain text, tab\tand\nline"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},  // é, €, a note
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {"bell\x07 back\x08 cr\r del\x7f nul", "bell\\x07 back\\x08 cr\\x0d del\\x7f nul"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\xC2\x9B" "2J \xC2\x85", "\\xc2\\x9b2J \\xc2\\x85"},     // C1 controls: CSI and NEL
      {"\x9B" "2J", "\\x9b2J"},                                   // a lone C1 byte is not UTF-8
      {"\xC0\xAF \xE0\x80\xAF", "\\xc0\\xaf \\xe0\\x80\\xaf"},    // overlong forms
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},                        // a surrogate
      {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},                // past U+10FFFF
      {"cut \xE2\x82", "cut \\xe2\\x82"},                         // a sequence the text ends inside
      {"\xC2\xA0nbsp", "\xC2\xA0nbsp"},                           // U+00A0 is printable
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(TerminalSafeText(c.Text), c.Expected);
  }
}

}  // namespace
}  // namespace lumivor::cli

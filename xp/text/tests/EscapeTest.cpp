#include <gtest/gtest.h>

#include <string>

#include "xp/text/XpEscape.h"
#include "xp/text/XpUtf8.h"

namespace {

TEST(JsonText, EscapesQuotesBackslashesAndControlCharacters) {
  for (const XpJsonStyle style : {XpJsonStyle::Plain, XpJsonStyle::ScriptSafe}) {
    EXPECT_EQ(XpJsonString("C:\\a\n\t\r\x01\x1F\x7F\"", style), "\"C:\\\\a\\n\\t\\r\\u0001\\u001f\\u007f\\\"\"");
    EXPECT_EQ(XpJsonString("", style), "\"\"");
    EXPECT_EQ(XpJsonString(std::string_view("a\0b", 3), style), "\"a\\u0000b\"");
  }
}

TEST(JsonText, KeepsMarkupCharactersInPlainJson) {
  EXPECT_EQ(XpJsonString("it's <b> & </script>", XpJsonStyle::Plain), "\"it's <b> & </script>\"");
  EXPECT_EQ(XpJsonString("\xE2\x80\xA8", XpJsonStyle::Plain), "\"\xE2\x80\xA8\"");
}

TEST(JsonText, NeverLetsAScriptElementEndOrChange) {
  EXPECT_EQ(XpJsonString("a\"></script>", XpJsonStyle::ScriptSafe), "\"a\\\"\\u003e\\u003c/script\\u003e\"");
  EXPECT_EQ(XpJsonString("<!--", XpJsonStyle::ScriptSafe), "\"\\u003c!--\"");
  EXPECT_EQ(XpJsonString("it's & \xE6\x9D\xB1", XpJsonStyle::ScriptSafe), "\"it\\u0027s \\u0026 \xE6\x9D\xB1\"");
  EXPECT_EQ(XpJsonString("a\xE2\x80\xA8"
                         "b\xE2\x80\xA9",
                         XpJsonStyle::ScriptSafe),
            "\"a\\u2028b\\u2029\"");
  // Other characters of the same lead bytes pass through.
  EXPECT_EQ(XpJsonString("\xE2\x80\x94", XpJsonStyle::ScriptSafe), "\"\xE2\x80\x94\"");
}

TEST(JsonText, WritesEachByteOfIllFormedUtf8AsItsOwnCodePoint) {
  for (const XpJsonStyle style : {XpJsonStyle::Plain, XpJsonStyle::ScriptSafe}) {
    EXPECT_EQ(XpJsonString("\xFF", style), "\"\\u00ff\"");
    EXPECT_EQ(XpJsonString("a\xC3", style), "\"a\\u00c3\"");                      // cut short
    EXPECT_EQ(XpJsonString("\xC0\xAF", style), "\"\\u00c0\\u00af\"");             // overlong
    EXPECT_EQ(XpJsonString("\xED\xA0\x80", style), "\"\\u00ed\\u00a0\\u0080\"");  // surrogate
    EXPECT_EQ(XpJsonString("\xE6\x9D\xB1\x80", style), "\"\xE6\x9D\xB1\\u0080\"");
    EXPECT_EQ(XpJsonString("\xF0\x9F\x97\xBA", style), "\"\xF0\x9F\x97\xBA\"");
  }
}

TEST(JsonText, AlwaysWritesWellFormedUtf8WithoutRawControlCharacters) {
  std::string every;
  for (int b = 0; b < 256; ++b) {
    every.push_back(static_cast<char>(b));
    every.push_back(static_cast<char>(255 - b));
  }
  for (const XpJsonStyle style : {XpJsonStyle::Plain, XpJsonStyle::ScriptSafe}) {
    const std::string json = XpJsonString(every, style);
    EXPECT_TRUE(XpIsValidUtf8(json));
    for (const char c : json) {
      EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
      if (style == XpJsonStyle::ScriptSafe) {
        EXPECT_TRUE(c != '<' && c != '>' && c != '&' && c != '\'');
      }
    }
  }
}

TEST(JsonText, AppendsWithoutQuotes) {
  std::string out = "\"lat\":\"";
  XpAppendJsonEscaped(out, "N:35\"", XpJsonStyle::ScriptSafe);
  EXPECT_EQ(out, "\"lat\":\"N:35\\\"");
}

TEST(HtmlText, EscapesMarkupInTextNodes) {
  EXPECT_EQ(XpEscapeHtmlText("a < b && c > d"), "a &lt; b &amp;&amp; c &gt; d");
  EXPECT_EQ(XpEscapeHtmlText("\"quoted\" 'single'\t\n"), "\"quoted\" 'single'\t\n");
  EXPECT_EQ(XpEscapeHtmlText("\xE6\x9D\xB1\xFF"), "\xE6\x9D\xB1\xFF");
}

TEST(HtmlText, EscapesQuotesAndWhiteSpaceInAttributes) {
  EXPECT_EQ(XpEscapeHtmlAttribute("a\"b'c<d>e&f"), "a&quot;b&#39;c&lt;d&gt;e&amp;f");
  EXPECT_EQ(XpEscapeHtmlAttribute("\t\n\r "), "&#9;&#10;&#13; ");
  EXPECT_EQ(XpEscapeHtmlAttribute("?file=api&v=2&key="), "?file=api&amp;v=2&amp;key=");
  EXPECT_EQ(XpEscapeHtmlAttribute(""), "");
}

}  // namespace

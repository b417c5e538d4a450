#include <gtest/gtest.h>

#include "Applications/Terravue/server/HtmlEscape.h"

namespace terravue::server {
namespace {

constexpr std::string_view kAttack = "a\"><script>alert(1)</script>.jpg";

TEST(HtmlEscape, TextEscapesMarkupCharacters) {
  EXPECT_EQ(EscapeHtmlText("a<b>&c\"'"), "a&lt;b&gt;&amp;c\"'");
  EXPECT_EQ(EscapeHtmlText(kAttack), "a\"&gt;&lt;script&gt;alert(1)&lt;/script&gt;.jpg");
}

TEST(HtmlEscape, AttributesAlsoEscapeQuotesAndLineBreaks) {
  EXPECT_EQ(EscapeHtmlAttribute(kAttack), "a&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;.jpg");
  EXPECT_EQ(EscapeHtmlAttribute("it's\ta\nb\rc"), "it&#39;s&#9;a&#10;b&#13;c");
  EXPECT_EQ(EscapeHtmlAttribute("\xE6\x9D\xB1"), "\xE6\x9D\xB1");
}

TEST(JsonString, CannotCloseTheScriptElement) {
  const std::string literal = JsonStringLiteral(kAttack);
  EXPECT_EQ(literal, "\"a\\\"\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e.jpg\"");
  EXPECT_EQ(literal.find('<'), std::string::npos);
  EXPECT_EQ(JsonStringLiteral("<!--"), "\"\\u003c!--\"");
}

TEST(JsonString, EscapesBackslashesControlsAndLineSeparators) {
  EXPECT_EQ(JsonStringLiteral("C:\\a\n\t\x01\x7F"), "\"C:\\\\a\\n\\t\\u0001\\u007f\"");
  EXPECT_EQ(JsonStringLiteral("x\xE2\x80\xA8y\xE2\x80\xA9"), "\"x\\u2028y\\u2029\"");
  EXPECT_EQ(JsonStringLiteral("it's & \xE6\x9D\xB1"), "\"it\\u0027s \\u0026 \xE6\x9D\xB1\"");
}

}  // namespace
}  // namespace terravue::server

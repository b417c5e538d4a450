// The layer file the user edits: what it offers, and what a faulty one says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Applications/Terravue/server/TileLayers.h"

namespace fs = std::filesystem;
using terravue::server::DefaultTileLayers;
using terravue::server::LoadTileLayers;
using terravue::server::ParseTileLayers;
using terravue::server::TileLayer;
using ::testing::HasSubstr;

namespace {

constexpr std::string_view kTwoLayers =
    "\xEF\xBB\xBF# The map's layers; the first is shown first.\n"
    "[OpenStreetMap]\n"
    "url = https://tile.openstreetmap.org/{z}/{x}/{y}.png\n"
    "attribution = \xC2\xA9 OpenStreetMap contributors\n"
    "max_zoom = 19\n"
    "\n"
    "; a layer of the user's own, with a key in its address\r\n"
    "[Topo \xE5\x9C\xB0\xE5\x9B\xB3]\r\n"
    "  url   =  https://{s}.example.org/{z}/{x}/{y}.png?key=abc&x=1  \r\n"
    "max_zoom = 17\r\n"
    "referer = no\r\n";

}  // namespace

TEST(TileLayers, ReadsEveryBlockInOrderWithItsOwnValues) {
  const auto list = ParseTileLayers(kTwoLayers);
  EXPECT_EQ(list.problem, "");
  ASSERT_EQ(list.layers.size(), 2U);
  EXPECT_EQ(list.layers[0], DefaultTileLayers().front());
  EXPECT_EQ(list.layers[1].name, "Topo \xE5\x9C\xB0\xE5\x9B\xB3");
  EXPECT_EQ(list.layers[1].url, "https://{s}.example.org/{z}/{x}/{y}.png?key=abc&x=1");
  EXPECT_EQ(list.layers[1].attribution, "");
  EXPECT_EQ(list.layers[1].maxZoom, 17);
  EXPECT_FALSE(list.layers[1].referer);
  // A path on the page's own server is an address too.
  const auto local = ParseTileLayers("[Here]\nurl = /tiles/{z}/{x}/{y}\n");
  ASSERT_EQ(local.layers.size(), 1U);
  EXPECT_EQ(local.layers[0].url, "/tiles/{z}/{x}/{y}");
  EXPECT_TRUE(local.layers[0].referer);
}

TEST(TileLayers, AFaultAnywhereGivesTheStandardMapAndSaysWhereAndWhy) {
  struct Case {
    std::string text;
    const char* said;
  };
  const std::vector<Case> cases = {
      {"[A]\nurl = ftp://example.org/{z}/{x}/{y}\n", "line 2: the url must start with"},
      {"[A]\nurl = https://example.org/{z}/{x}.png\n", "line 2: the url must"},
      {"[A]\nurl = https://example.org/{z}/{x}/{y}\" onerror=\"x\n", "line 2: the url"},
      {"[A]\nurl = //example.org/{z}/{x}/{y}\n", "line 2: the url"},
      {"[A]\nattribution = x\n", "line 1: the layer has no url"},
      {"url = https://a/{z}/{x}/{y}\n", "line 1: a value before the first"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nmax_zoom = 23\n", "line 3: max_zoom must be"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nmax_zoom = 1e1\n", "line 3: max_zoom"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nreferer = maybe\n", "line 3: referer must be yes or no"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\ncolour = red\n", "line 3: unknown key \"colour\""},
      {"[A]\nurl = https://a/{z}/{x}/{y}\n[A]\nurl = https://b/{z}/{x}/{y}\n", "line 3: the layer name is used twice"},
      {"[]\n", "line 1: a layer name must have 1 to 64"},
      {"[A\n", "line 1: a layer name must end"},
      {"just words\n", "line 1: expected"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nattribution = a\x01b\n", "line 3: a control character"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nattribution = \xC3\x28\n", "the file is not UTF-8 text"},
      {"# nothing\n", "the file names no layer"},
      {"[A]\nurl = https://a/{z}/{x}/{y}\nattribution = " + std::string(2049, 'a') + "\n", "longer than 2048"},
      {std::string(64 * 1024 + 1, '#'), "larger than 64 KB"},
  };
  for (const Case& c : cases) {
    const auto list = ParseTileLayers(c.text, "layers.conf");
    EXPECT_THAT(list.problem, HasSubstr(c.said)) << c.text.substr(0, 80);
    EXPECT_THAT(list.problem, HasSubstr("layers.conf")) << c.text.substr(0, 80);
    EXPECT_THAT(list.problem, HasSubstr("the standard map is shown"));
    EXPECT_EQ(list.layers, DefaultTileLayers());
  }
  std::string many;
  for (int i = 0; i < 33; ++i) {
    many += "[L" + std::to_string(i) + "]\nurl = https://a/{z}/{x}/{y}\n";
  }
  EXPECT_THAT(ParseTileLayers(many).problem, HasSubstr("line 65: more than 32 layers"));
}

TEST(TileLayers, TheFileIsReadOnlyWhenItIsAPlainFile) {
  const fs::path dir = fs::temp_directory_path() / ("tv_layers_" + std::to_string(getpid()));
  fs::create_directories(dir);
  // No file: the standard map, nothing to say.
  auto list = LoadTileLayers(dir / "tile-layers.conf");
  EXPECT_EQ(list.problem, "");
  EXPECT_EQ(list.layers, DefaultTileLayers());

  std::ofstream(dir / "tile-layers.conf") << kTwoLayers;
  list = LoadTileLayers(dir / "tile-layers.conf");
  EXPECT_EQ(list.problem, "");
  EXPECT_EQ(list.layers.size(), 2U);

  // A link, a folder and a named pipe are refused, and the pipe does not hang the reader.
  fs::create_symlink(dir / "tile-layers.conf", dir / "link.conf");
  EXPECT_THAT(LoadTileLayers(dir / "link.conf").problem, HasSubstr("link.conf: "));
  fs::create_directories(dir / "folder.conf");
  EXPECT_THAT(LoadTileLayers(dir / "folder.conf").problem, HasSubstr("not a regular file"));
  ASSERT_EQ(mkfifo((dir / "pipe.conf").c_str(), 0600), 0);
  EXPECT_THAT(LoadTileLayers(dir / "pipe.conf").problem, HasSubstr("not a regular file"));
  std::ofstream(dir / "big.conf") << std::string(70000, '#');
  EXPECT_THAT(LoadTileLayers(dir / "big.conf").problem, HasSubstr("big.conf: the file is larger than 64 KB"));
  fs::remove_all(dir);
}

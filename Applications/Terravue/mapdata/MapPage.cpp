#include "Applications/Terravue/mapdata/MapPage.h"

#include "Applications/Terravue/mapdata/TextFile.h"
#include "xp/text/XpEscape.h"

namespace {

// The inside of a JSON string in the page's inline script.
std::string JsonText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  XpAppendJsonEscaped(out, text, XpJsonStyle::ScriptSafe);
  return out;
}

}  // namespace

std::string MarkerObject(const PictureRecord& record) {
  std::string out = "{\"path\":\"";
  out += JsonText(record.m_cacheName);
  out += "\",\"cache\":\"";
  out += JsonText(record.m_cacheName);
  out += "\",\"lat\":\"";
  out += JsonText(record.m_latitude);
  out += "\",\"lng\":\"";
  out += JsonText(record.m_longitude);
  out += "\",\"width\":";
  out += std::to_string(record.m_width);
  out += ",\"height\":";
  out += std::to_string(record.m_height);
  out += ",\"time\":\"";
  out += JsonText(record.m_timeText);
  out += "\"}";
  return out;
}

std::string BuildMapPage(const PictureList& pictures, const MapPageAddresses& addresses) {
  std::string markers;
  for (const PictureRecord& record : pictures.Records()) {
    if (!markers.empty()) {
      markers.push_back(',');
    }
    markers += MarkerObject(record);
  }
  const std::string mapScript =
      XpEscapeHtmlAttribute(addresses.mapScriptUrl) + XpEscapeHtmlAttribute("?file=api&v=2&key=");
  const std::string gpsImage = XpEscapeHtmlAttribute(addresses.serverUrl) + "/www/gps/terravue/script/GPS.gif";

  std::string page;
  page += "<html>\n";
  page +=
      "\t<head>\t<meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\"/>"
      "\t<link href=\"terravue.css\" rel=\"stylesheet\" type=\"text/css\"/>\n";
  // When the map library is the page script itself (the bundle every state folder holds), a second
  // tag would fetch, parse and run the whole bundle twice.
  if (addresses.mapScriptUrl != "terravue.js") {
    page += "\t<script src=\"" + mapScript + "\" type=\"text/javascript\"></script>";
  }
  page +=
      "\t<script src=\"terravue.js\" type=\"text/javascript\"></script>"
      "\t<script type=\"text/javascript\">//<![CDATA[\n";
  page += "\tvar $marker = [" + markers + "];\n";
  page += "\tvar $select = 0;\n";
  page += "\tvar $message = {\"broken\":\"\",\"information\":\"\"};\n";
  page += "//]]>\n";
  page += "\t</script>\n";
  page += "\t</head>\n";
  page += "\t<body onload=\"load()\" onunload=\"unload()\">\n";
  page += "\t\t<div id=\"terravue\">\t\t\t<div id=\"list\" class=\"tbl\"></div>\n";
  page += "\t\t\t<div id=\"map\" class=\"tbl\" onmousewheel=\"mapWheel()\"></div>\n";
  page += "\t\t\t<div id=\"info\" class=\"tbl\"></div>\n";
  page += "\t\t</div>\n";
  page += "\t\t<div id=\"thumbAlt\"></div>\n";
  page +=
      "\t\t<a id=\"big\" href=\"#\" onclick=\"bigClick();return false;\">"
      "<div id=\"bigBg\"></div><img id=\"bigImg\"/></a>\n";
  page += "\t\t<div id=\"skel\">\n";
  page +=
      "\t\t\t<a id=\"thumb1\" class=\"thumb1\" href=\"#\" onclick=\"thumbClick(this);return false;\" "
      "onmouseover=\"thumbOver(this)\" onmouseout=\"thumbOut()\" onmousemove=\"thumbMove()\"></a>\n";
  page +=
      "\t\t\t<a id=\"thumb2\" class=\"thumb2\" href=\"#\" onclick=\"return false;\" "
      "onmouseover=\"thumbOver(this)\" onmouseout=\"thumbOut()\" onmousemove=\"thumbMove()\"></a>\n";
  page += "\t\t\t<a id=\"msg1\" href=\"#\" onclick=\"msgClick();return false;\"></a>\n";
  page += "\t\t\t<a id=\"msg2\" href=\"#\" onclick=\"return false;\"></a>\n";
  page += "\t\t\t<img id=\"gps\" class=\"gps\" src=\"" + gpsImage + "\"/>\n";
  page += "\t\t\t<div id=\"shadow1\" class=\"shadow1\"></div>\n";
  page += "\t\t\t<div id=\"shadow2\" class=\"shadow2\"></div>\n";
  page += "\t\t\t<div id=\"thumbTime\" class=\"thumbTime\"></div>\n";
  page += "\t\t</div>\n";
  page += "\t</body>\n";
  page += "</html>\n";
  return page;
}

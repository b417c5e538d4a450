#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

/// A qualified XML name with the namespace its prefix is bound to where it
/// stands. The views point into the parsed document.
struct XpXmlName {
  std::string_view prefix;
  std::string_view local;
  std::string_view space;
};

/// The namespace bound to `prefix` ("" for the default one) at `node`, looking
/// up through its ancestors; empty when none is bound.
inline std::string_view XpXmlBoundNamespace(pugi::xml_node node, std::string_view prefix) {
  const std::string wanted = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
  for (; node && node.type() == pugi::node_element; node = node.parent()) {
    if (const pugi::xml_attribute bound = node.attribute(wanted.c_str())) {
      return bound.value();
    }
  }
  return {};
}

/// Resolves `qualified` as written at `scope`. An attribute without a prefix
/// has no namespace; an element without one is in the default namespace.
inline XpXmlName XpResolveXmlName(pugi::xml_node scope, std::string_view qualified, bool attribute) {
  XpXmlName name;
  const auto colon = qualified.find(':');
  if (colon == std::string_view::npos) {
    name.local = qualified;
    name.space = attribute ? std::string_view{} : XpXmlBoundNamespace(scope, {});
    return name;
  }
  name.prefix = qualified.substr(0, colon);
  name.local = qualified.substr(colon + 1);
  name.space = XpXmlBoundNamespace(scope, name.prefix);
  return name;
}

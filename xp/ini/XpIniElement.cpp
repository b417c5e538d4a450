#include "xp/ini/XpIniElement.h"

#include <new>

#include "xp/ini/XpIniArray.h"
#include "xp/ini/XpIniBool.h"
#include "xp/ini/XpIniDate.h"
#include "xp/ini/XpIniDict.h"
#include "xp/ini/XpIniInt.h"
#include "xp/ini/XpIniMemChunk.h"
#include "xp/ini/XpIniReal.h"
#include "xp/ini/XpIniString.h"

XpIniElement* XpIniElement::Find(std::string_view /*path*/) const { return nullptr; }
XpIniElement* XpIniElement::GetAt(int /*index*/) const { return nullptr; }
XpStatus XpIniElement::Remove(std::string_view /*path*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::RemoveAt(int /*index*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::LoadFile(const std::string& /*path*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SaveFile(const std::string& /*path*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::AddElement(std::string_view /*path*/, std::unique_ptr<XpIniElement> /*element*/,
                                  XpIniElement** /*added*/) {
  return XpStatus::NotSupported;
}
XpStatus XpIniElement::InsertAt(int /*index*/, XpIniType /*type*/, std::int64_t /*value*/, std::string_view /*text*/) {
  return XpStatus::NotSupported;
}
XpStatus XpIniElement::GetData(XpAbstractFile& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetDate(XpDateTime& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetString(std::string& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetReal(double& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetInt64(std::int64_t& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetInt32(std::int32_t& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::GetBool(bool& /*out*/) const { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetString(std::string_view /*text*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetReal(double /*value*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetInt64(std::int64_t /*value*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetBool(bool /*value*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetData(XpAbstractFile& /*in*/) { return XpStatus::NotSupported; }
XpStatus XpIniElement::SetDate(const XpDateTime& /*value*/) { return XpStatus::NotSupported; }

XpStatus XpIniElement::Add(std::string_view path, XpIniType type, std::int64_t value, std::string_view text,
                           XpIniElement** added) {
  if (added != nullptr) {
    *added = nullptr;
  }
  std::unique_ptr<XpIniElement> element;
  if (auto st = XpCreateIniElement(type, value, text, element); st != XpStatus::Ok) {
    return st;
  }
  return AddElement(path, std::move(element), added);
}

XpStatus XpCreateIniElement(XpIniType type, std::int64_t value, std::string_view text,
                            std::unique_ptr<XpIniElement>& out) {
  out.reset();
  try {
    switch (type) {
      case XpIniType::Bool:
        out = std::make_unique<XpIniBool>(value != 0);
        break;
      case XpIniType::Int:
        out = std::make_unique<XpIniInt>(value);
        break;
      case XpIniType::Real:
        out = std::make_unique<XpIniReal>();
        break;
      case XpIniType::String:
        out = std::make_unique<XpIniString>(text);
        break;
      case XpIniType::MemChunk:
        out = std::make_unique<XpIniMemChunk>();
        break;
      case XpIniType::Date:
        out = std::make_unique<XpIniDate>();
        break;
      case XpIniType::Array:
        out = std::make_unique<XpIniArray>();
        break;
      case XpIniType::Dict:
        out = std::make_unique<XpIniDict>();
        break;
      default:
        return XpStatus::UnknownType;
    }
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}

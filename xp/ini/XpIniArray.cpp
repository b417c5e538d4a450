#include "xp/ini/XpIniArray.h"

#include <new>

#include "xp/ini/XpIniPath.h"

XpIniElement* XpIniArray::GetAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) {
    return nullptr;
  }
  return m_items[static_cast<std::size_t>(index)].get();
}

XpIniElement* XpIniArray::Find(std::string_view path) const {
  const auto step = XpSplitIniPath(path);
  XpIniElement* child = GetAt(XpIniReadIndex(step.head));
  if (child == nullptr || !step.hasRest) {
    return child;
  }
  return child->Find(step.rest);
}

XpStatus XpIniArray::RemoveAt(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) {
    return XpStatus::NotFound;
  }
  m_items.erase(m_items.begin() + index);
  return XpStatus::Ok;
}

XpStatus XpIniArray::Remove(std::string_view path) {
  const auto step = XpSplitIniPath(path);
  const int index = XpIniReadIndex(step.head);
  if (!step.hasRest) {
    return RemoveAt(index);
  }
  XpIniElement* child = GetAt(index);
  if (child == nullptr) {
    return XpStatus::NotFound;
  }
  return child->Remove(step.rest);
}

XpStatus XpIniArray::InsertElement(int index, std::unique_ptr<XpIniElement> element, XpIniElement** added) {
  if (added != nullptr) {
    *added = nullptr;
  }
  const int count = GetCount();
  if (index == -1) {
    index = count;
  }
  if (index < 0 || index > count) {
    return XpStatus::NotFound;
  }
  if (!element) {
    return XpStatus::InvalidArgument;
  }
  XpIniElement* raw = element.get();
  try {
    m_items.insert(m_items.begin() + index, std::move(element));
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (added != nullptr) {
    *added = raw;
  }
  return XpStatus::Ok;
}

XpStatus XpIniArray::AddElement(std::string_view path, std::unique_ptr<XpIniElement> element, XpIniElement** added) {
  if (added != nullptr) {
    *added = nullptr;
  }
  const auto step = XpSplitIniPath(path);
  const int index = XpIniReadIndex(step.head);
  if (!step.hasRest) {
    return InsertElement(index, std::move(element), added);
  }
  XpIniElement* child = GetAt(index);
  if (child == nullptr) {
    return XpStatus::NotFound;
  }
  return child->AddElement(step.rest, std::move(element), added);
}

XpStatus XpIniArray::InsertAt(int index, XpIniType type, std::int64_t value, std::string_view text) {
  std::unique_ptr<XpIniElement> element;
  if (auto st = XpCreateIniElement(type, value, text, element); st != XpStatus::Ok) {
    return st;
  }
  return InsertElement(index, std::move(element));
}

#include "xp/ini/XpIniDict.h"

#include <new>
#include <string>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpFileSystem.h"
#include "xp/image/XpFile.h"
#include "xp/ini/XpIniPath.h"
#include "xp/ini/XpIniXml.h"

XpIniElement* XpIniDict::Find(std::string_view path) const {
  const auto step = XpSplitIniPath(path);
  const auto it = m_entries.find(step.head);
  if (it == m_entries.end()) {
    return nullptr;
  }
  if (!step.hasRest) {
    return it->second.get();
  }
  return it->second->Find(step.rest);
}

XpStatus XpIniDict::Remove(std::string_view path) {
  const auto step = XpSplitIniPath(path);
  const auto it = m_entries.find(step.head);
  if (it == m_entries.end()) {
    return XpStatus::NotFound;
  }
  if (!step.hasRest) {
    m_entries.erase(it);
    return XpStatus::Ok;
  }
  return it->second->Remove(step.rest);
}

XpStatus XpIniDict::AddElement(std::string_view path, std::unique_ptr<XpIniElement> element, XpIniElement** added) {
  if (added != nullptr) {
    *added = nullptr;
  }
  const auto step = XpSplitIniPath(path);
  if (step.hasRest) {
    const auto it = m_entries.find(step.head);
    if (it == m_entries.end()) {
      return XpStatus::NotFound;
    }
    return it->second->AddElement(step.rest, std::move(element), added);
  }
  if (step.head.empty()) {
    return XpStatus::NotFound;
  }
  if (!element) {
    return XpStatus::InvalidArgument;
  }
  if (m_entries.find(step.head) != m_entries.end()) {
    return XpStatus::DuplicateKey;
  }
  XpIniElement* raw = element.get();
  try {
    m_entries.emplace(std::string(step.head), std::move(element));
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (added != nullptr) {
    *added = raw;
  }
  return XpStatus::Ok;
}

void XpIniDict::ForEach(const std::function<void(const std::string&, const XpIniElement&)>& visit) const {
  for (const auto& [key, child] : m_entries) {
    visit(key, *child);
  }
}

namespace {

// Reads a whole regular file. The file is opened without blocking so that a
// FIFO or a device given as a document never stalls the caller.
XpStatus ReadDocumentFile(const std::string& path, std::string& out) {
  const XpStatus st = XpReadWholeFile(path, XpIniDict::kMaxFileSize, &out, XpStatus::OutOfMemory);
  if (st == XpStatus::FileInvalid && XpIsDirectory(path)) {
    return XpStatus::AccessDenied;
  }
  return st == XpStatus::Failed ? XpStatus::OpenFailed : st;
}

}  // namespace

XpStatus XpIniDict::LoadFile(const std::string& path) {
  Clear();
  std::string bytes;
  if (auto st = ReadDocumentFile(path, bytes); st != XpStatus::Ok) {
    return st;
  }
  return XpIniReadDocument(bytes, /*detectEncoding=*/true, *this);
}

XpStatus XpIniDict::LoadText(std::string_view text) {
  Clear();
  return XpIniReadDocument(text, /*detectEncoding=*/false, *this);
}

XpStatus XpIniDict::SaveText(std::string& out) const { return XpIniWriteDocument(*this, out); }

XpStatus XpIniDict::SaveFile(const std::string& path) const {
  // The text is built before the file is opened, so that a document that
  // can't be built leaves an existing file untouched.
  std::string text;
  if (auto st = XpIniWriteDocument(*this, text); st != XpStatus::Ok) {
    return st;
  }
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kWrite); st != XpStatus::Ok) {
    return st;
  }
  if (file.WriteAll(text.data(), text.size()) != XpStatus::Ok) {
    return XpStatus::XmlFailed;
  }
  if (file.Close() != XpStatus::Ok) {
    return XpStatus::XmlFailed;
  }
  return XpStatus::Ok;
}

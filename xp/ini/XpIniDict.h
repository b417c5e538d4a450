#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "xp/ini/XpIniElement.h"

/// A map from text keys to owned child nodes, element "dict"; the root of every
/// property-list document. Keys are unique and kept in ascending byte order,
/// which is also the order of saving (so "B" < "a" < "b").
///
/// Documents are XML with the root element "plist". Loading keeps what it can:
/// comments are skipped, the first value of a duplicated key wins, and a broken
/// value or nested container is dropped or kept partly filled without failing
/// the load; only a broken document or a structure error directly in the root
/// dictionary reaches the caller. Nesting deeper than `kMaxDepth` containers is
/// dropped.
class XpIniDict : public XpIniElement {
 public:
  /// Containers nested deeper than this below the root are not loaded.
  static constexpr int kMaxDepth = 100;
  /// Files larger than this are not loaded (0x8401).
  static constexpr std::int64_t kMaxFileSize = 64 * 1024 * 1024;

  XpIniDict() = default;

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Dict; }
  [[nodiscard]] int GetCount() const override { return static_cast<int>(m_entries.size()); }
  [[nodiscard]] XpIniElement* Find(std::string_view path) const override;
  [[nodiscard]] XpStatus Remove(std::string_view path) override;
  /// Refuses an empty key with 0x8502: a document with an empty key could not
  /// be loaded again.
  [[nodiscard]] XpStatus AddElement(std::string_view path, std::unique_ptr<XpIniElement> element,
                                    XpIniElement** added = nullptr) override;

  /// Removes every entry, then reads the document in the file. A file that
  /// can't be read answers its file status (a non-regular file 0x8119); a
  /// document the parser rejects 0x8503; no root element 0x8500; a root that
  /// is not "plist", no "dict" in it, or a non-key where a key belongs in the
  /// root dictionary 0x8504. Entries read before a failure stay.
  [[nodiscard]] XpStatus LoadFile(const std::string& path) override;
  /// Writes the document to the file (UTF-8, no whitespace between elements).
  /// A file that can't be opened answers its file status, a failed write 0x8500.
  [[nodiscard]] XpStatus SaveFile(const std::string& path) const override;
  /// `LoadFile` over an XML text in UTF-8.
  [[nodiscard]] XpStatus LoadText(std::string_view text);
  /// The document as XML text in UTF-8.
  [[nodiscard]] XpStatus SaveText(std::string& out) const;

  /// Deletes every entry.
  void Clear() { m_entries.clear(); }

  /// Calls `visit` for every entry in key order.
  void ForEach(const std::function<void(const std::string&, const XpIniElement&)>& visit) const;

 private:
  std::map<std::string, std::unique_ptr<XpIniElement>, std::less<>> m_entries;
};

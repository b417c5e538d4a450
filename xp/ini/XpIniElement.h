#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xp/base/XpStatus.h"

class XpAbstractFile;
class XpDateTime;

/// The type codes of property-list nodes, as stored and as given to `Add`.
enum class XpIniType : int {
  Bool = 0,      ///< XpIniBool, element "true" / "false"
  Int = 1,       ///< XpIniInt, element "integer"
  Real = 2,      ///< XpIniReal, element "real"
  String = 3,    ///< XpIniString, element "string"
  MemChunk = 4,  ///< XpIniMemChunk, element "data"
  Date = 5,      ///< XpIniDate, element "date"
  Array = 6,     ///< XpIniArray, element "array"
  Dict = 7,      ///< XpIniDict, element "dict"
};

/// One node of a property-list document. Containers address their descendants
/// by slash-separated paths: in a dictionary a component is a key, in an array a
/// decimal index. Every operation a node type does not support answers 0x8501
/// (none for the lookups).
class XpIniElement {
 public:
  XpIniElement() = default;
  XpIniElement(const XpIniElement&) = delete;
  XpIniElement& operator=(const XpIniElement&) = delete;
  virtual ~XpIniElement() = default;

  /// Number of children; 0 for scalars.
  [[nodiscard]] virtual int GetCount() const { return 0; }
  /// The node at `path` below this one, or none. The node stays owned by its container.
  [[nodiscard]] virtual XpIniElement* Find(std::string_view path) const;
  /// The child at `index` of an array; none for every other type or a bad index.
  [[nodiscard]] virtual XpIniElement* GetAt(int index) const;
  /// Removes and deletes the node at `path`; 0x8502 when it is not there.
  [[nodiscard]] virtual XpStatus Remove(std::string_view path);
  /// Array only: removes and deletes the child at `index`; 0x8502 for a bad index.
  [[nodiscard]] virtual XpStatus RemoveAt(int index);
  /// Dictionary only: replaces the contents with the document in the file.
  [[nodiscard]] virtual XpStatus LoadFile(const std::string& path);
  /// Dictionary only: writes the dictionary as a whole document to the file.
  [[nodiscard]] virtual XpStatus SaveFile(const std::string& path) const;
  /// Creates a node of `type` at `path`: a boolean from `value` (non-zero is
  /// true), an integer from `value`, a string from `text`; every other type
  /// starts empty (real 0, no bytes, an invalid date, no children). In an array
  /// the last component is the insertion index, where -1 and the count append.
  /// Answers 0x8507 for an unknown type, 0x8508 for a key that exists already,
  /// 0x8502 for a missing path or an index beyond the end, 0x8401 when memory
  /// runs out. `added`, when given, receives the new node (owned by its container).
  [[nodiscard]] XpStatus Add(std::string_view path, XpIniType type, std::int64_t value = 0, std::string_view text = {},
                             XpIniElement** added = nullptr);
  /// Places an already built node at `path` under the rules of `Add`. On failure
  /// the node is deleted and nothing changes.
  [[nodiscard]] virtual XpStatus AddElement(std::string_view path, std::unique_ptr<XpIniElement> element,
                                            XpIniElement** added = nullptr);
  /// Array only: `Add` with the index given as a number.
  [[nodiscard]] virtual XpStatus InsertAt(int index, XpIniType type, std::int64_t value = 0,
                                          std::string_view text = {});
  [[nodiscard]] virtual XpIniType GetType() const = 0;

  /// Data only: writes the bytes into `out` at its position.
  [[nodiscard]] virtual XpStatus GetData(XpAbstractFile& out) const;
  [[nodiscard]] virtual XpStatus GetDate(XpDateTime& out) const;
  [[nodiscard]] virtual XpStatus GetString(std::string& out) const;
  [[nodiscard]] virtual XpStatus GetReal(double& out) const;
  [[nodiscard]] virtual XpStatus GetInt64(std::int64_t& out) const;
  /// Integer only: stores the low 32 bits and answers 0x8509 when the value
  /// lies outside the signed 32-bit range.
  [[nodiscard]] virtual XpStatus GetInt32(std::int32_t& out) const;
  [[nodiscard]] virtual XpStatus GetBool(bool& out) const;
  [[nodiscard]] virtual XpStatus SetString(std::string_view text);
  [[nodiscard]] virtual XpStatus SetReal(double value);
  [[nodiscard]] virtual XpStatus SetInt64(std::int64_t value);
  [[nodiscard]] virtual XpStatus SetBool(bool value);
  /// Data only: copies the whole content of `in` (from its start) into the node.
  [[nodiscard]] virtual XpStatus SetData(XpAbstractFile& in);
  [[nodiscard]] virtual XpStatus SetDate(const XpDateTime& value);
};

/// Makes an empty node of `type` (see `XpIniElement::Add`); none with 0x8507 for
/// an unknown type.
[[nodiscard]] XpStatus XpCreateIniElement(XpIniType type, std::int64_t value, std::string_view text,
                                          std::unique_ptr<XpIniElement>& out);

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// One JSON value of the oracle file; only what the tests need.
struct OracleValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<OracleValue> items;
  std::map<std::string, OracleValue> fields;

  [[nodiscard]] bool IsNull() const { return kind == Kind::Null; }
  /// The field, or a null value when absent.
  [[nodiscard]] const OracleValue& operator[](const std::string& key) const;
};

/// Parses one JSON text; nothing when it is not well formed.
[[nodiscard]] std::optional<OracleValue> ParseOracleJson(const std::string& text);

/// Every record of the oracle file beside the test pictures.
[[nodiscard]] std::vector<OracleValue> ReadOracle();

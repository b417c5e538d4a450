#pragma once

#include <string>
#include <string_view>

#include "xp/base/XpDateTime.h"
#include "xp/ini/XpIniElement.h"

/// A date node, element "date". The time is stored and written as given,
/// without any time-zone conversion.
class XpIniDate final : public XpIniElement {
 public:
  XpIniDate() = default;

  [[nodiscard]] XpIniType GetType() const override { return XpIniType::Date; }
  [[nodiscard]] XpStatus GetDate(XpDateTime& out) const override;
  [[nodiscard]] XpStatus SetDate(const XpDateTime& value) override;

  /// Reads the text of a "date" element: six decimal numbers in the order
  /// year, month, day, hour, minute, second, each followed by one separator
  /// character of any kind, so "2007:03:07T09:05:03Z" and
  /// "2007-03-07T09:05:03Z" give the same value; what follows the sixth number
  /// is ignored. Fields that make no valid date give an invalid value. Empty
  /// text answers 0x8500 and leaves the node as it was.
  [[nodiscard]] XpStatus ReadText(std::string_view text);
  /// The text written for the node: "YYYY:MM:DDThh:mm:ssZ" with colons in the
  /// date part; "0000:00:00T00:00:00Z" for an invalid value, which reads back
  /// as invalid.
  [[nodiscard]] std::string WriteText() const;

 private:
  XpDateTime m_value;
};

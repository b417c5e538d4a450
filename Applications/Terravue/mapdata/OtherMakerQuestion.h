#pragma once

#include <string>

/// Asks the user before a position is written into a picture that carries a
/// maker note from a camera of another maker, since rewriting such a file may
/// break what other devices read from it. The window layer implements it over
/// its settings and its notice dialog; tests use a fake.
class OtherMakerQuestion {
 public:
  /// Name of the per-user setting that switches the question on (not 0) or off (0).
  static constexpr const char* kSettingName = "warn_noardo";
  /// Default of that setting when it was never written.
  static constexpr int kSettingDefault = 1;
  /// Number of the notice text in the string table, formatted with the file name.
  static constexpr int kMessageId = 120;

  OtherMakerQuestion() = default;
  OtherMakerQuestion(const OtherMakerQuestion&) = delete;
  OtherMakerQuestion& operator=(const OtherMakerQuestion&) = delete;
  virtual ~OtherMakerQuestion() = default;

  /// The current value of the "warn_noardo" setting (kSettingDefault when unset).
  [[nodiscard]] virtual int ReadSetting() = 0;

  /// Shows notice 120 for `fileName` (the picture's name with extension, no
  /// folder) as a modal notice with OK and Cancel and the do-not-show-again box
  /// bound to "warn_noardo". True only when the user chose OK; the dialog itself
  /// stores the box's state when OK is chosen.
  [[nodiscard]] virtual bool Ask(const std::string& fileName) = 0;
};

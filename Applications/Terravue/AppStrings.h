#pragma once

#include <QString>
#include <QStringList>

class QTranslator;

/// The program's texts: the string table (102 to 121), menu 151 and the dialog
/// texts, built in for English and Japanese. Every text has a key: a string
/// number ("102"), a menu command ("151/32787") or a dialog text ("153/1001",
/// "163/text"). An optional translation file ("PtvTvLocale.qm" in the program
/// folder) is consulted first, under the context "PtvTvLocale" with the key as
/// its source text; a key it does not carry falls back to the built-in text.
class AppStrings {
 public:
  enum class Language { English, Japanese };

  /// The process-wide table. Start-up sets its language and override; the
  /// rest of the program only reads it, and only on the user-interface thread.
  static AppStrings& Instance();

  void SetLanguage(Language language) { m_language = language; }
  Language GetLanguage() const { return m_language; }

  /// Makes `translator` the first place every lookup tries. Not owned: the
  /// caller keeps it alive until it clears the override with nullptr.
  void SetOverride(const QTranslator* translator) { m_override = translator; }
  const QTranslator* Override() const { return m_override; }

  /// The text for `key`: the override's, else the built-in text in the
  /// current language, else the English one, else an empty text.
  QString Text(const QString& key) const;

  /// The string-table entry `id` (102 to 121).
  QString String(int id) const { return Text(QString::number(id)); }

  /// The built-in text for `key` in `language`, ignoring the override; empty
  /// when there is none.
  static QString BuiltIn(const QString& key, Language language);

 private:
  Language m_language = Language::English;
  const QTranslator* m_override = nullptr;
};

/// Whether the user's preferred interface languages ask for Japanese: true when
/// the first of them is Japanese ("ja", "ja-JP", ...).
bool IsJapaneseUiLanguage(const QStringList& uiLanguages);

/// Fills a message pattern: each "%s", "%d" or "%x" takes the next of `args` (an
/// empty text once they run out) and "%%" becomes "%". Any other "%" stays as it
/// is, so a pattern from outside (a translation file, a configured URL) can
/// never read past its arguments.
QString FormatText(const QString& pattern, const QStringList& args);

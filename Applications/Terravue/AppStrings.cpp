#include "Applications/Terravue/AppStrings.h"

#include <QTranslator>
#include <array>
#include <string_view>

namespace {

struct BuiltInText {
  std::string_view key;
  const char* english;
  const char* japanese;
};

// The texts are UTF-8. The Japanese ones are written for Japanese users rather
// than translated word for word; placeholders stay in the same order.
constexpr std::array kTexts = {
    BuiltInText{"102", "Error has occurred.\n\nPlease unlock read-only or increase available space on the disk.",
                "エラーが発生しました。\n\n読み取り専用を解除するか、ディスクの空き容量を増やしてください。"},
    BuiltInText{"104",
                "The number of still images displayed on a map has exceeded %d. Data processing  in Terravue may get "
                "slow.",
                "地図に表示する静止画が%d枚を超えました。Terravueの処理が遅くなることがあります。"},
    BuiltInText{"105", "ENU", "JPN"},
    BuiltInText{"106", "The maximum possible number of saved data is 255. \n\nDelete some data and try to save again.",
                "保存できるデータは255件までです。\n\n不要なデータを削除してから、もう一度保存してください。"},
    BuiltInText{"107", "To delete data, please follow on-screen instructions.",
                "データを削除するには、画面の指示に従って操作してください。"},
    BuiltInText{"108", "New data", "新しいデータ"},
    BuiltInText{"109", "\"%s\" (%s) will be deleted. Do you want to continue?",
                "「%s」(%s)を削除します。よろしいですか？"},
    BuiltInText{"110", "To save Terravue, please follow on-screen instructions.",
                "Terravueを保存するには、画面の指示に従って操作してください。"},
    BuiltInText{"111", "The Terravue is running. Quit the Terravue before starting the program.",
                "Terravueはすでに起動しています。Terravueを終了してから起動してください。"},
    BuiltInText{"112", "In Terravue, make sure to choose a still image.", "Terravueでは、静止画を選んでください。"},
    BuiltInText{"113",
                "There are no still images with recorded location information in the images selected. Click the "
                "still image to display the image on the map.",
                "選んだ画像の中に、位置情報が記録された静止画がありません。静止画をクリックすると、その画像を地図に"
                "表示できます。"},
    BuiltInText{"114", "Connection to the server has failed. (%x)", "サーバーに接続できませんでした。(%x)"},
    BuiltInText{"115", "Deletion has failed.", "削除できませんでした。"},
    BuiltInText{"116",
                "The selected image does not contain recorded location information. Only still images with recorded "
                "location information are displayed on a map. Click the still image to display the image on the map.",
                "選んだ画像には位置情報が記録されていません。地図に表示されるのは、位置情報が記録された静止画だけです。"
                "静止画をクリックすると、その画像を地図に表示できます。"},
    BuiltInText{"117", "Terravue has been updated. Would you like to save the file?",
                "Terravueの内容が変更されています。保存しますか？"},
    BuiltInText{"118", "Corrupted data has been recovered.", "壊れていたデータを修復しました。"},
    BuiltInText{"120",
                "If you apply recorded location information to the picture file '%s', the file may not be displayed "
                "properly by some devices or programs. Do you want to continue?",
                "画像ファイル「%s」に位置情報を書き込むと、機器やソフトウェアによっては正しく表示されなくなることがあり"
                "ます。続けますか？"},
    BuiltInText{"121", "Terravue", "Terravue"},

    // Menu 151: the popup of the main window.
    BuiltInText{"151/32787", "Save Terravue as a new file (&S)", "新しいファイルとしてTerravueを保存(&S)"},
    BuiltInText{"151/32791", "Save Terravue (&U)", "Terravueを上書き保存(&U)"},
    BuiltInText{"151/32786", "Delete selected Terravue (&D)", "選んだTerravueを削除(&D)"},
    BuiltInText{"151/32792", "Help (&H)", "ヘルプ(&H)"},

    // Dialog 152: the progress bar has no texts. Dialog 153: the notice.
    BuiltInText{"153/title", "Terravue", "Terravue"},
    BuiltInText{"153/1001", "Do not show this message again", "今後このメッセージを表示しない"},
    BuiltInText{"153/ok", "OK", "OK"},
    BuiltInText{"153/1006", "Cancel", "キャンセル"},

    // Dialog 154: saving a map state.
    BuiltInText{"154/title", "Terravue", "Terravue"},
    BuiltInText{"154/text", "The screen status of the present image will be saved.", "現在の画面の状態を保存します。"},
    BuiltInText{"154/1004", "Name of the Terravue", "Terravueの名前"},
    BuiltInText{"154/ok", "Save", "保存"},
    BuiltInText{"154/cancel", "Cancel", "キャンセル"},

    // Dialog 163: the privacy notice.
    BuiltInText{"163/title", "Terravue", "Terravue"},
    BuiltInText{"163/text",
                "When you use this feature, the longitude and latitude information with the path to the image will be "
                "sent to the Ardo's server and the longitude and latitude information will be sent to the server of "
                "the map service provider.",
                "この機能を使うと、緯度と経度の情報が画像のパスとともにArdoのサーバーに送られ、緯度と経度の情報が地図"
                "サービス提供者のサーバーに送られます。"},
    BuiltInText{"163/ok", "Continue", "続行"},

    // The main window's report of pictures whose new position could not be
    // written; "%s" is the list of their file names, one per line.
    BuiltInText{
        "writeback/failed",
        "The location information could not be written to these pictures:\n\n%s\n\nThey keep their "
        "previous location. Check that the files are not read-only and that the disk has free space, then "
        "save again.",
        "次の画像に位置情報を書き込めませんでした:\n\n%s\n\nこれらの画像の位置情報は変更されていません。"
        "ファイルが読み取り専用でないこと、ディスクに空き容量があることを確認してから、もう一度保存してください。"},
};

constexpr const char* kOverrideContext = "PtvTvLocale";

}  // namespace

AppStrings& AppStrings::Instance() {
  static AppStrings instance;
  return instance;
}

QString AppStrings::BuiltIn(const QString& key, Language language) {
  const QByteArray utf8 = key.toUtf8();
  const std::string_view wanted(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  for (const BuiltInText& text : kTexts) {
    if (text.key == wanted) {
      return QString::fromUtf8(language == Language::Japanese ? text.japanese : text.english);
    }
  }
  return {};
}

QString AppStrings::Text(const QString& key) const {
  if (m_override != nullptr) {
    const QByteArray source = key.toUtf8();
    QString text = m_override->translate(kOverrideContext, source.constData());
    if (!text.isEmpty()) {
      return text;
    }
  }
  QString text = BuiltIn(key, m_language);
  if (text.isEmpty() && m_language != Language::English) {
    text = BuiltIn(key, Language::English);
  }
  return text;
}

bool IsJapaneseUiLanguage(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) {
    return false;
  }
  const QString first = uiLanguages.front().toLower();
  return first == QLatin1String("ja") || first.startsWith(QLatin1String("ja-")) ||
         first.startsWith(QLatin1String("ja_"));
}

QString FormatText(const QString& pattern, const QStringList& args) {
  QString out;
  out.reserve(pattern.size() + 32);
  qsizetype next = 0;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern.at(i);
    if (c != QLatin1Char('%') || i + 1 >= pattern.size()) {
      out.append(c);
      continue;
    }
    const QChar conversion = pattern.at(i + 1);
    if (conversion == QLatin1Char('%')) {
      out.append(QLatin1Char('%'));
      ++i;
    } else if (conversion == QLatin1Char('s') || conversion == QLatin1Char('d') || conversion == QLatin1Char('x')) {
      if (next < args.size()) {
        out.append(args.at(next));
      }
      ++next;
      ++i;
    } else {
      out.append(c);
    }
  }
  return out;
}

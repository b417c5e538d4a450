// Settings, the machine-wide reader, the process-wide values, the string table
// and the command-text splitter.
#include <QSettings>
#include <QSignalSpy>
#include <QTranslator>
#include <memory>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CRegKeyReader.h"
#include "Applications/Terravue/DetachedBrowserStarter.h"
#include "Applications/Terravue/MachineBrowserSettings.h"
#include "Applications/Terravue/SplitCommandLine.h"
#include "Applications/Terravue/tests/AppTestSupport.h"

namespace {

/// A translation file stand-in that knows a fixed set of keys.
class FakeTranslator : public QTranslator {
 public:
  explicit FakeTranslator(QHash<QString, QString> texts) : m_texts(std::move(texts)) {}
  QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                    int /*n*/) const override {
    if (QLatin1String(context) != QLatin1String("PtvTvLocale")) {
      return {};
    }
    return m_texts.value(QString::fromUtf8(sourceText));
  }
  bool isEmpty() const override { return false; }

 private:
  QHash<QString, QString> m_texts;
};

AppGlobalsInputs InputsFor(const TestHome& home) {
  AppGlobalsInputs inputs;
  inputs.programFolder = home.Path("program") + QLatin1Char('/');
  inputs.dataHome = home.Path("data");
  inputs.documentsFolder = home.Path("home/Documents");
  inputs.machineIniPath = home.MachineIni();
  inputs.builtInServerUrl = BuiltInServerUrl(47613);
  inputs.builtInHelpUrl = BuiltInHelpUrl(47613);
  inputs.fileVersion = QStringLiteral("1, 1, 01, 08140");
  return inputs;
}

}  // namespace

class SettingsTest : public AppTestCase {
  Q_OBJECT

 private slots:
  void init() {
    AppTestCase::init();
    AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    AppStrings::Instance().SetOverride(nullptr);
  }

  // --- per-user values ---

  void everyPerUserValueReadsItsDefaultWhenNothingIsStored_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("cx") << "cx" << QVariant(796);
    QTest::newRow("cy") << "cy" << QVariant(596);
    QTest::newRow("zoom") << "zoom" << QVariant(QStringLiteral("2"));
    QTest::newRow("latitude") << "latitude" << QVariant(QStringLiteral("N:35:37:32.828"));
    QTest::newRow("longitude") << "longitude" << QVariant(QStringLiteral("E:139:44:31.338"));
    for (const char* name : {"initialize", "disp_once", "howto_nopicture", "warn_over20", "warn_nolocation",
                             "warn_hasnolocation", "error_maxalbum", "warn_noardo", "confirm_forget"}) {
      QTest::newRow(name) << QString::fromLatin1(name) << QVariant(1);
    }
    QTest::newRow("web_cache_mb") << "web_cache_mb" << QVariant(500);
    QTest::newRow("tile_file") << "tile_file" << QVariant(QString());
  }
  void everyPerUserValueReadsItsDefaultWhenNothingIsStored() {
    QFETCH(QString, name);
    QFETCH(QVariant, expected);
    const AppSettings settings;
    if (expected.typeId() == QMetaType::Int) {
      QCOMPARE(settings.ReadNumber(name), expected.toInt());
    } else {
      QCOMPARE(settings.ReadText(name), expected.toString());
    }
  }

  void theTableHoldsEveryPerUserValueOnce() {
    QCOMPARE(AppSettings::UserSettingTable().size(), std::size_t{24});
    QSet<QString> names;
    for (const UserSettingSpec& setting : AppSettings::UserSettingTable()) {
      names.insert(QString::fromLatin1(setting.name));
    }
    QCOMPARE(names.size(), 24);
    QVERIFY(AppSettings::Find(QStringLiteral("warn_noardo")) != nullptr);
    // Off by default: a save gives photos the time of saving.
    QVERIFY(AppSettings::Find(QStringLiteral("preserve_mtime")) != nullptr);
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("preserve_mtime")), 0);
    // Off by default: raw photos get sidecars.
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("raw_in_file")), 0);
    // Off by default: a photo placed by a track keeps its Exif time zone as it is.
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("write_offset_time")), 0);
    // On by default: a RAW+JPEG pair is one picture.
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("pair_raw_jpeg")), 1);
    QVERIFY(AppSettings::Find(QStringLiteral("no_such_value")) == nullptr);
  }

  void writtenValuesLandInTheUsersIniFileUnderTheDesignedGroup() {
    {
      AppSettings settings;
      settings.WriteNumber(QStringLiteral("warn_nolocation"), 0);
      settings.WriteText(QStringLiteral("latitude"), QStringLiteral("S:33:51:35.000"));
      settings.WriteNumber(QStringLiteral("x"), -50);
    }
    QVERIFY(QFileInfo::exists(m_home->UserIni()));
    QSettings raw(m_home->UserIni(), QSettings::IniFormat);
    QCOMPARE(raw.value(QStringLiteral("PtvTerravue/1.1/warn_nolocation")).toInt(), 0);
    QCOMPARE(raw.value(QStringLiteral("PtvTerravue/1.1/latitude")).toString(), QStringLiteral("S:33:51:35.000"));

    const AppSettings again;
    QCOMPARE(again.ReadNumber(QStringLiteral("warn_nolocation")), 0);
    QCOMPARE(again.ReadNumber(QStringLiteral("x"), 123), -50);
    QCOMPARE(again.ReadText(QStringLiteral("latitude")), QStringLiteral("S:33:51:35.000"));
  }

  void aNumberThatDoesNotReadAsANumberGivesTheDefault() {
    TestHome::WriteFile(m_home->UserIni(), "[PtvTerravue]\n1.1\\cx=wide\n1.1\\cy=99999999999\n1.1\\disp_once=0x0\n");
    const AppSettings settings;
    QCOMPARE(settings.ReadNumber(QStringLiteral("cx")), 796);
    QCOMPARE(settings.ReadNumber(QStringLiteral("cy")), 596);
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);
  }

  void theUsersFileFollowsXdgConfigHomeAndFallsBackToTheHomeFolder() {
    QCOMPARE(AppSettings::UserIniPath(), m_home->UserIni());
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    QCOMPARE(AppSettings::UserIniPath(),
             m_home->Path("home") + QStringLiteral("/.config/Ardo Corporation/Pictavo.ini"));
  }

  // --- the machine-wide reader ---

  void aMissingMachineFileLeavesTheKeyClosedAndEveryReadAtItsDefault() {
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), CRegKeyReader::Root::LocalMachine);
    QVERIFY(!reader.IsOpen());
    QCOMPARE(reader.ReadNumber(QStringLiteral("max_pictures"), 20), 20);
    QCOMPARE(reader.ReadText(QStringLiteral("URL_MAIN"), QStringLiteral("built-in")), QStringLiteral("built-in"));
  }

  void theMachineFileIsFoundInTheFirstXdgConfigFolderThatHasIt() {
    const QString second = m_home->Path("second-xdg");
    qputenv("XDG_CONFIG_DIRS", (m_home->Path("etc-xdg") + QLatin1Char(':') + second).toUtf8());
    TestHome::WriteFile(second + QStringLiteral("/Ardo Corporation/Pictavo.ini"), "[Terravue]\n1.1\\max_pictures=7\n");
    QCOMPARE(CRegKeyReader::MachineIniPath(), second + QStringLiteral("/Ardo Corporation/Pictavo.ini"));
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), CRegKeyReader::Root::LocalMachine);
    QVERIFY(reader.IsOpen());
    QCOMPARE(reader.ReadNumber(QStringLiteral("max_pictures"), 20), 7);
  }

  void aKeyWithoutValuesIsNotOpen() {
    TestHome::WriteFile(m_home->MachineIni(), "[Other]\nvalue=1\n");
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), m_home->MachineIni());
    QVERIFY(!reader.IsOpen());
  }

  void aTextOf99CharactersIsReadAndOneOf100GivesTheDefault_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("used");
    QTest::newRow("98") << 98 << true;
    QTest::newRow("99") << 99 << true;
    QTest::newRow("100") << 100 << false;
    QTest::newRow("150") << 150 << false;
  }
  void aTextOf99CharactersIsReadAndOneOf100GivesTheDefault() {
    QFETCH(int, length);
    QFETCH(bool, used);
    const QString prefix = QStringLiteral("http://example.test/");
    const QString url = prefix + QString(length - prefix.size(), QLatin1Char('a'));
    QCOMPARE(url.size(), length);
    TestHome::WriteFile(m_home->MachineIni(), "[Terravue]\n1.1\\URL_MAIN=" + url.toUtf8() + "\n");
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), m_home->MachineIni());
    QVERIFY(reader.IsOpen());
    QCOMPARE(reader.ReadText(QStringLiteral("URL_MAIN"), QStringLiteral("built-in")),
             used ? url : QStringLiteral("built-in"));
  }

  void theLengthLimitCountsCharactersNotBytes() {
    // 99 Japanese characters are 297 bytes of UTF-8 but still 99 characters.
    const QString text(99, QChar(0x5730));
    TestHome::WriteFile(m_home->MachineIni(), "[Browser]\nExeName=" + text.toUtf8() + "\n");
    const CRegKeyReader reader(QStringLiteral("Browser"), m_home->MachineIni());
    QCOMPARE(reader.ReadText(QStringLiteral("ExeName"), QString()), text);
  }

  void aTextWithCommasComesBackWhole() {
    TestHome::WriteFile(m_home->MachineIni(), "[Terravue]\n1.1\\URL_HELP=http://h/a,b/help_%s_%s.html\n");
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), m_home->MachineIni());
    QCOMPARE(reader.ReadText(QStringLiteral("URL_HELP"), QString()), QStringLiteral("http://h/a,b/help_%s_%s.html"));
  }

  void aNumberThatIsNotANumberGivesTheDefault() {
    TestHome::WriteFile(m_home->MachineIni(), "[Terravue]\n1.1\\max_pictures=many\n");
    const CRegKeyReader reader(QStringLiteral("Terravue/1.1"), m_home->MachineIni());
    QVERIFY(reader.IsOpen());
    QCOMPARE(reader.ReadNumber(QStringLiteral("max_pictures"), 20), 20);
  }

  void theUsersRootIsAlwaysOpen() {
    const CRegKeyReader reader(QStringLiteral("PtvTerravue/1.1"), CRegKeyReader::Root::CurrentUser);
    QVERIFY(reader.IsOpen());
    QCOMPARE(reader.ReadNumber(QStringLiteral("cx"), 796), 796);
  }

  void theBrowserProgramsPlaceIsReadFromTheMachineFile() {
    TestHome::WriteFile(m_home->MachineIni(),
                        "[Browser]\nCurrentVersion=2.0\n2.0\\InstalledLocation=/opt/ptvbrowser\n"
                        "2.0\\ExeName=PtvBrowser\n");
    const MachineBrowserSettings settings;
    QCOMPARE(settings.ReadText("Browser", "CurrentVersion"), std::string("2.0"));
    QCOMPARE(settings.ReadText("Browser/2.0", "InstalledLocation"), std::string("/opt/ptvbrowser"));
    QCOMPARE(settings.ReadText("Browser/2.0", "ExeName"), std::string("PtvBrowser"));
    QCOMPARE(settings.ReadText("Browser/3.0", "ExeName"), std::string());
  }

  void theBrowserProgramIsStartedWithItsArgumentsAsTheyAre() {
    DetachedBrowserStarter starter;
    // A blank and a quote in an argument reach the program unchanged: no shell.
    const QString target = m_home->Root() + QStringLiteral("/made by \"touch\".txt");
    QVERIFY(starter.Start("/usr/bin/touch", {target.toStdString()}));
    QTRY_VERIFY(QFileInfo::exists(target));
    QVERIFY(!starter.Start(m_home->Root().toStdString() + "/no-such-program", {"/w", "list.xml"}));
  }

  // --- process-wide values ---

  void withNoMachineKeyTheBuiltInUrlsAndTwentyPicturesServe() {
    const AppGlobals globals = ComputeAppGlobals(InputsFor(*m_home));
    QCOMPARE(globals.maxPictures, 20);
    QCOMPARE(globals.serverScriptUrl, QStringLiteral("http://127.0.0.1:47613/www/gps/terravue/script2/terravue.php"));
    QCOMPARE(globals.helpUrl, QStringLiteral("http://127.0.0.1:47613/www/gps/terravue/help/help_ENU_11.html"));
    QCOMPARE(globals.appTitle, QStringLiteral("Terravue"));
    QCOMPARE(globals.languageCode, std::string("ENU"));
    QCOMPARE(globals.clientVersion, std::string("1.1.01.08140"));
    QCOMPARE(globals.Message(104), QStringLiteral("The number of still images displayed on a map has exceeded 20. "
                                                  "Data processing in Terravue may get slow."));
    QCOMPARE(globals.Message(111),
             QStringLiteral("The Terravue is running. Quit the Terravue before starting the program."));
    QVERIFY(globals.Message(105).isEmpty());
  }

  void machineValuesReplaceTheBuiltInOnes() {
    TestHome::WriteFile(m_home->MachineIni(),
                        "[Terravue]\n1.1\\URL_MAIN=http://maps.example.test/script.php\n"
                        "1.1\\URL_HELP=http://maps.example.test/help/%s-%s.html\n1.1\\max_pictures=5\n");
    const AppGlobals globals = ComputeAppGlobals(InputsFor(*m_home));
    QCOMPARE(globals.serverScriptUrl, QStringLiteral("http://maps.example.test/script.php"));
    QCOMPARE(globals.helpUrl, QStringLiteral("http://maps.example.test/help/ENU-11.html"));
    QCOMPARE(globals.maxPictures, 5);
    QVERIFY(globals.Message(104).contains(QStringLiteral("exceeded 5.")));
  }

  void aHelpTemplateWithStrayConversionsIsFilledSafely() {
    TestHome::WriteFile(m_home->MachineIni(), "[Terravue]\n1.1\\URL_HELP=http://h/%s/%20%n%s%s%d.html\n");
    const AppGlobals globals = ComputeAppGlobals(InputsFor(*m_home));
    QCOMPARE(globals.helpUrl, QStringLiteral("http://h/ENU/%20%n11.html"));
  }

  void theWorkFolderAndTheMakersFolderAreMadeAndTheOlderStoreIsFoundOnlyWhenItExists() {
    const AppGlobals globals = ComputeAppGlobals(InputsFor(*m_home));
    QCOMPARE(globals.workFolder, m_home->Path("home/Documents") + QStringLiteral("/Terravue"));
    QVERIFY(QFileInfo(globals.workFolder).isDir());
    QVERIFY(QFileInfo(m_home->Path("data") + QStringLiteral("/Ardo Corporation")).isDir());
    QVERIFY(!QFileInfo::exists(m_home->Path("data") + QStringLiteral("/Ardo Corporation/Pictavo")));
    QVERIFY(globals.appDataFilePath.isEmpty());

    const QString older = m_home->Path("data") + QStringLiteral("/Ardo Corporation/Pictavo/PtvTerravue/data.tvd");
    TestHome::WriteFile(older, "old\r\n");
    QCOMPARE(ComputeAppGlobals(InputsFor(*m_home)).appDataFilePath, older);
  }

  void thePageUrlsAreFileUrlsOfTheProgramFolder() {
    AppGlobalsInputs inputs = InputsFor(*m_home);
    inputs.programFolder = QStringLiteral("/opt/terra vue/");
    const AppGlobals globals = ComputeAppGlobals(inputs);
    QCOMPARE(globals.mapPageUrl, QStringLiteral("file:///opt/terra%20vue/map.html"));
    QCOMPARE(globals.waitPageUrl, QStringLiteral("file:///opt/terra%20vue/wait.htm"));
  }

  void japaneseResourcesGiveTheJapaneseLanguageCodeAndHelpPage() {
    AppStrings::Instance().SetLanguage(AppStrings::Language::Japanese);
    const AppGlobals globals = ComputeAppGlobals(InputsFor(*m_home));
    QCOMPARE(globals.languageCode, std::string("JPN"));
    QVERIFY(globals.helpUrl.endsWith(QStringLiteral("help_JPN_11.html")));
    QVERIFY(globals.Message(104).contains(QStringLiteral("20")));
  }

  void theClientVersionDropsBlanksAndUsesDots() {
    QCOMPARE(MakeClientVersion(QStringLiteral("1, 1, 01, 08140")), std::string("1.1.01.08140"));
    QCOMPARE(MakeClientVersion(QString()), std::string());
  }

  // --- the string table ---

  void everyStringOfTheTableExistsInBothLanguages() {
    for (int id : {102, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 120, 121}) {
      QVERIFY2(!AppStrings::BuiltIn(QString::number(id), AppStrings::Language::English).isEmpty(),
               qPrintable(QString::number(id)));
      QVERIFY2(!AppStrings::BuiltIn(QString::number(id), AppStrings::Language::Japanese).isEmpty(),
               qPrintable(QString::number(id)));
    }
    QVERIFY(AppStrings::BuiltIn(QStringLiteral("103"), AppStrings::Language::English).isEmpty());
  }

  void placeholdersAreTheSameInBothLanguages() {
    for (int id : {104, 109, 114, 120}) {
      const QString english = AppStrings::BuiltIn(QString::number(id), AppStrings::Language::English);
      const QString japanese = AppStrings::BuiltIn(QString::number(id), AppStrings::Language::Japanese);
      QCOMPARE(japanese.count(QLatin1Char('%')), english.count(QLatin1Char('%')));
    }
  }

  void theMenuAndDialogTextsAreTheDesignedOnes() {
    const AppStrings& strings = AppStrings::Instance();
    QCOMPARE(strings.Text(QStringLiteral("151/32787")), QStringLiteral("Save Terravue as a new file (&S)"));
    QCOMPARE(strings.Text(QStringLiteral("151/32791")), QStringLiteral("Save Terravue (&U)"));
    QCOMPARE(strings.Text(QStringLiteral("151/32786")), QStringLiteral("Delete selected Terravue (&D)"));
    QCOMPARE(strings.Text(QStringLiteral("151/32792")), QStringLiteral("Help (&H)"));
    QCOMPARE(strings.Text(QStringLiteral("153/1001")), QStringLiteral("Do not show this message again"));
    QCOMPARE(strings.Text(QStringLiteral("154/1004")), QStringLiteral("Name of the Terravue"));
    QCOMPARE(strings.Text(QStringLiteral("163/ok")), QStringLiteral("Continue"));
  }

  void aTranslationFileWinsAndMissingKeysFallBackToTheBuiltInTexts() {
    AppStrings& strings = AppStrings::Instance();
    strings.SetLanguage(AppStrings::Language::Japanese);
    const FakeTranslator translator({{QStringLiteral("112"), QStringLiteral("Bitte ein Standbild waehlen.")}});
    strings.SetOverride(&translator);
    QCOMPARE(strings.String(112), QStringLiteral("Bitte ein Standbild waehlen."));
    QCOMPARE(strings.String(115), AppStrings::BuiltIn(QStringLiteral("115"), AppStrings::Language::Japanese));
    strings.SetOverride(nullptr);
    QCOMPARE(strings.String(112), AppStrings::BuiltIn(QStringLiteral("112"), AppStrings::Language::Japanese));
  }

  void japaneseIsChosenOnlyWhenTheFirstInterfaceLanguageIsJapanese() {
    QVERIFY(IsJapaneseUiLanguage({QStringLiteral("ja-JP"), QStringLiteral("en")}));
    QVERIFY(IsJapaneseUiLanguage({QStringLiteral("ja")}));
    QVERIFY(!IsJapaneseUiLanguage({QStringLiteral("en-US"), QStringLiteral("ja")}));
    QVERIFY(!IsJapaneseUiLanguage({QStringLiteral("jam")}));
    QVERIFY(!IsJapaneseUiLanguage({}));
  }

  void formattingFillsConversionsInOrderAndNeverReadsPastItsArguments_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two texts") << "\"%s\" (%s) will go" << QStringList{"Trip", "01/02/24"}
                               << "\"Trip\" (01/02/24) will go";
    QTest::newRow("number") << "exceeded %d." << QStringList{"20"} << "exceeded 20.";
    QTest::newRow("hex") << "failed. (%x)" << QStringList{"800c0005"} << "failed. (800c0005)";
    QTest::newRow("too few") << "%s and %s" << QStringList{"one"} << "one and ";
    QTest::newRow("percent") << "100%% sure %s" << QStringList{"yes"} << "100% sure yes";
    QTest::newRow("unknown") << "%n%p%" << QStringList{"x"} << "%n%p%";
    QTest::newRow("escape") << "%2F%s" << QStringList{"a"} << "%2Fa";
  }
  void formattingFillsConversionsInOrderAndNeverReadsPastItsArguments() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    QCOMPARE(FormatText(pattern, args), expected);
  }

  // --- splitting a command text ---

  void splittingACommandText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("quoted path then plain path")
        << "\"/home/u/My Photos/a.jpg\" /tmp/b.jpg" << QStringList{"/home/u/My Photos/a.jpg", "/tmp/b.jpg"};
    QTest::newRow("two blanks between words") << "one  two" << QStringList{"one", "two"};
    QTest::newRow("unterminated quote") << "\"no end" << QStringList{};
    QTest::newRow("quote inside a word") << "ab\"cd ef" << QStringList{"ab\"cd", "ef"};
    QTest::newRow("leading blank") << " first" << QStringList{"", "first"};
    QTest::newRow("tab stays inside") << "a\tb c" << QStringList{"a\tb", "c"};
    QTest::newRow("empty quoted argument") << "\"\" x" << QStringList{"", "x"};
    QTest::newRow("trailing blanks") << "a   " << QStringList{"a"};
    QTest::newRow("quote right after a quoted argument") << "\"a\"\"b\"" << QStringList{"a", "b"};
    QTest::newRow("tab in the gap") << "a \t b" << QStringList{"a", "b"};
    QTest::newRow("single word") << "/input" << QStringList{"/input"};
  }
  void splittingACommandText() {
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QStringList out;
    SplitCommandLine(text, out);
    QCOMPARE(out, expected);
  }

  void splittingAppendsToWhatTheListHolds() {
    QStringList out{QStringLiteral("before")};
    SplitCommandLine(QStringLiteral("x y"), out);
    QCOMPARE(out, (QStringList{"before", "x", "y"}));
  }
};

TV_QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"

// The notices, the privacy notice, the save dialog, the progress dialog and the
// report of pictures whose new position could not be written.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CPimDlg.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/OtherMakerNotice.h"
#include "Applications/Terravue/WindowPlacement.h"
#include "Applications/Terravue/WriteBackMessage.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/tests/AppTestSupport.h"

class DialogsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestHome> m_home;
  std::unique_ptr<QMainWindow> m_parent;

  static int Stored(const char* name) { return AppSettings().ReadNumber(QString::fromLatin1(name)); }

  CWarnningDlg* OpenNotice(const char* name, bool showCancel = false) {
    return new CWarnningDlg(m_parent.get(), QStringLiteral("Some notice text."), QString::fromLatin1(name),
                            /*modal=*/false, showCancel);
  }

 private slots:
  void init() {
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->IsValid());
    AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    m_parent = std::make_unique<QMainWindow>();
    m_parent->setGeometry(100, 50, 1000, 700);
    m_parent->show();
  }
  void cleanup() {
    m_parent.reset();
    m_home.reset();
  }

  // --- CWarnningDlg ---

  void aModelessNoticeShowsAtOnceWithItsTextAndWithoutCancel() {
    QPointer<CWarnningDlg> notice = OpenNotice("warn_nolocation");
    QVERIFY(notice->isVisible());
    QVERIFY(!notice->isModal());
    QCOMPARE(notice->MessageLabel()->text(), QStringLiteral("Some notice text."));
    QCOMPARE(notice->DoNotShowBox()->text(), QStringLiteral("Do not show this message again"));
    QVERIFY(!notice->DoNotShowBox()->isChecked());
    QVERIFY(!notice->CancelButton()->isVisible());
    QVERIFY(notice->OkButton()->isDefault());
    QVERIFY(notice->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!notice->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(notice->windowTitle(), QStringLiteral("Terravue"));
  }

  void tickingTheBoxAndPressingOkWritesZeroAndClosesTheNotice() {
    QPointer<CWarnningDlg> notice = OpenNotice("warn_nolocation");
    QTest::mouseClick(notice->DoNotShowBox(), Qt::LeftButton);
    QCOMPARE(Stored("warn_nolocation"), 1);  // nothing is written before OK
    QTest::mouseClick(notice->OkButton(), Qt::LeftButton);
    QCOMPARE(Stored("warn_nolocation"), 0);
    // A modeless notice frees itself once closed.
    QTRY_VERIFY(notice.isNull());
  }

  void pressingOkWithoutTickingWritesOne() {
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
    QPointer<CWarnningDlg> notice = OpenNotice("warn_hasnolocation");
    QTest::mouseClick(notice->OkButton(), Qt::LeftButton);
    QCOMPARE(Stored("warn_hasnolocation"), 1);
  }

  void escapeClosesTheNoticeAndWritesNothing() {
    QPointer<CWarnningDlg> notice = OpenNotice("howto_nopicture");
    QTest::mouseClick(notice->DoNotShowBox(), Qt::LeftButton);
    QTest::keyClick(notice, Qt::Key_Escape);
    QTRY_VERIFY(notice.isNull());
    QVERIFY(!QFileInfo::exists(m_home->UserIni()));
    QCOMPARE(Stored("howto_nopicture"), 1);
  }

  void cancelClosesTheNoticeAndWritesNothing() {
    QPointer<CWarnningDlg> notice = OpenNotice("warn_noardo", /*showCancel=*/true);
    QVERIFY(notice->CancelButton()->isVisible());
    QCOMPARE(notice->CancelButton()->text(), QStringLiteral("Cancel"));
    QSignalSpy finished(notice.data(), &QDialog::finished);
    QTest::mouseClick(notice->DoNotShowBox(), Qt::LeftButton);
    QTest::mouseClick(notice->CancelButton(), Qt::LeftButton);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.front().front().toInt(), int(QDialog::Rejected));
    QCOMPARE(Stored("warn_noardo"), 1);
    QVERIFY(!QFileInfo::exists(m_home->UserIni()));
  }

  void aModalNoticeAnswersOkOrCancelToItsCaller() {
    {
      CWarnningDlg notice(m_parent.get(), QStringLiteral("Store full."), QStringLiteral("error_maxalbum"),
                          /*modal=*/true, /*showCancel=*/false);
      QVERIFY(!notice.isVisible());  // the caller runs it
      QTimer::singleShot(0, &notice, [&notice] {
        notice.DoNotShowBox()->setChecked(true);
        notice.OkButton()->click();
      });
      QCOMPARE(notice.exec(), int(QDialog::Accepted));
      QCOMPARE(Stored("error_maxalbum"), 0);
      QVERIFY(!notice.ForegroundTimer().isActive());
    }
    {
      CWarnningDlg notice(m_parent.get(), QStringLiteral("Other maker."), QStringLiteral("warn_noardo"),
                          /*modal=*/true, /*showCancel=*/true);
      QTimer::singleShot(0, &notice, [&notice] { notice.CancelButton()->click(); });
      QCOMPARE(notice.exec(), int(QDialog::Rejected));
      QCOMPARE(Stored("warn_noardo"), 1);
    }
  }

  void aNoticeSitsInTheLowerLeftCornerOfItsParentClearOfTheMapsCentre() {
    CWarnningDlg* notice = OpenNotice("warn_over20");
    const QRect parent = m_parent->frameGeometry();
    const QRect placed = notice->frameGeometry();
    QCOMPARE(placed.x(), parent.x() + kNoticeLeftInset);
    QCOMPARE(placed.y(), parent.y() + parent.height() - kNoticeBottomInset - placed.height());
    QVERIFY(!placed.contains(parent.center()));
  }

  void aModelessNoticeComesToTheForegroundOnceAfterItsTimer() {
    CWarnningDlg* notice = OpenNotice("warn_over20");
    QCOMPARE(notice->ForegroundTimer().interval(), 800);
    QVERIFY(notice->ForegroundTimer().isActive());
    QSignalSpy raised(notice, &CNoticeDlg::broughtToForeground);
    QVERIFY(raised.wait(5000));
    QVERIFY(!notice->ForegroundTimer().isActive());
    QTest::qWait(900);
    QCOMPARE(raised.count(), 1);
  }

  void modelessNoticesComeOneAtATimeInTheOrderTheyWereMade() {
    QPointer<CWarnningDlg> first =
        new CWarnningDlg(m_parent.get(), QStringLiteral("First."), QStringLiteral("warn_nolocation"), false, false);
    QPointer<CWarnningDlg> second =
        new CWarnningDlg(m_parent.get(), QStringLiteral("Second."), QStringLiteral("warn_hasnolocation"), false, false);
    QPointer<CWarnningDlg> third =
        new CWarnningDlg(m_parent.get(), QStringLiteral("Third."), QStringLiteral("warn_over20"), false, false);
    // The same text again while it is shown: not a second time.
    QPointer<CWarnningDlg> again =
        new CWarnningDlg(m_parent.get(), QStringLiteral("First."), QStringLiteral("warn_nolocation"), false, false);
    QTRY_VERIFY(again.isNull());
    QVERIFY(first->isVisible());
    QVERIFY(!second->isVisible() && second->IsWaiting());
    QVERIFY(!third->isVisible() && third->IsWaiting());
    QTest::qWait(3 * CNoticeDlg::kWaitCheckMs);
    QVERIFY(!second->isVisible());
    first->OkButton()->click();
    QTRY_VERIFY(first.isNull());
    QTRY_VERIFY(second->isVisible());
    QVERIFY(!third->isVisible());
    second->OkButton()->click();
    QTRY_VERIFY(third != nullptr && third->isVisible());
    QVERIFY(second.isNull());
    third->OkButton()->click();
    QTRY_VERIFY(third.isNull());
  }

  // --- the other-maker question ---

  static CWarnningDlg* OpenModalNotice() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* notice = qobject_cast<CWarnningDlg*>(widget); notice != nullptr && notice->isVisible()) {
        return notice;
      }
    }
    return nullptr;
  }

  void theOtherMakerQuestionNamesTheFileAndGoesOnOnlyWithOk() {
    OtherMakerNotice question(m_parent.get());
    QCOMPARE(question.ReadSetting(), 1);
    QString shownText;
    QTimer::singleShot(0, this, [&shownText] {
      CWarnningDlg* notice = OpenModalNotice();
      QVERIFY(notice != nullptr);
      shownText = notice->MessageLabel()->text();
      QVERIFY(notice->CancelButton()->isVisible());
      notice->DoNotShowBox()->setChecked(true);
      notice->OkButton()->click();
    });
    QVERIFY(question.Ask("IMG_0001.JPG"));
    QVERIFY(shownText.contains(QStringLiteral("'IMG_0001.JPG'")));
    QCOMPARE(question.ReadSetting(), 0);

    QTimer::singleShot(0, this, [] {
      CWarnningDlg* notice = OpenModalNotice();
      QVERIFY(notice != nullptr);
      notice->CancelButton()->click();
    });
    QVERIFY(!question.Ask("IMG_0002.JPG"));
    QCOMPARE(question.ReadSetting(), 0);
  }

  // --- CPimDlg ---

  void thePrivacyNoticeContinuesWithoutWritingAnything() {
    QPointer<CPimDlg> notice = new CPimDlg(m_parent.get(), /*modal=*/false);
    QVERIFY(notice->isVisible());
    QVERIFY(notice->NoticeLabel()->text().startsWith(QStringLiteral("When you use this feature")));
    QCOMPARE(notice->ContinueButton()->text(), QStringLiteral("Continue"));
    QVERIFY(notice->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(notice->ForegroundTimer().isActive());
    const QRect parent = m_parent->frameGeometry();
    QCOMPARE(notice->frameGeometry().topLeft(), PlaceNoticeOverParent(parent, notice->frameGeometry().size()));
    QTest::mouseClick(notice->ContinueButton(), Qt::LeftButton);
    QTRY_VERIFY(notice.isNull());
    QVERIFY(!QFileInfo::exists(m_home->UserIni()));
  }

  void thePrivacyNoticeCanBeClosedFromItsCaption() {
    QPointer<CPimDlg> notice = new CPimDlg(m_parent.get(), /*modal=*/false);
    QVERIFY(notice->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    notice->close();
    QTRY_VERIFY(notice.isNull());
  }

  void theTextsFollowTheLanguage() {
    AppStrings::Instance().SetLanguage(AppStrings::Language::Japanese);
    CPimDlg notice(m_parent.get(), /*modal=*/true);
    QCOMPARE(notice.ContinueButton()->text(),
             AppStrings::BuiltIn(QStringLiteral("163/ok"), AppStrings::Language::Japanese));
    CWarnningDlg warning(m_parent.get(), QString(), QStringLiteral("warn_over20"), true, true);
    QCOMPARE(warning.DoNotShowBox()->text(), QStringLiteral("今後このメッセージを表示しない"));
  }

  // --- CSaveDlg ---

  void theSaveDialogOffersTheDefaultNameAndAnswersItUnchanged() {
    CSaveDlg dialog(QStringLiteral("New data"), m_parent.get());
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("New data"));
    QCOMPARE(dialog.SaveButton()->text(), QStringLiteral("Save"));
    QVERIFY(dialog.SaveButton()->isDefault());
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::mouseClick(dialog.SaveButton(), Qt::LeftButton); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.GetName(), QStringLiteral("New data"));
  }

  void aClearedNameIsAnsweredEmpty() {
    CSaveDlg dialog(QStringLiteral("New data"), m_parent.get());
    QTimer::singleShot(0, &dialog, [&dialog] {
      dialog.NameEdit()->clear();
      QTest::keyClick(dialog.NameEdit(), Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.GetName(), QString());
  }

  void aTypedNameIsAnswered() {
    CSaveDlg dialog(QStringLiteral("New data"), m_parent.get());
    QTimer::singleShot(0, &dialog, [&dialog] {
      dialog.NameEdit()->selectAll();
      QTest::keyClicks(dialog.NameEdit(), QStringLiteral("Trip?"));
      dialog.SaveButton()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    // The dialog does no checking of its own.
    QCOMPARE(dialog.GetName(), QStringLiteral("Trip?"));
  }

  void cancelAndEscapeAnswerCancel() {
    CSaveDlg cancelled(QStringLiteral("New data"), m_parent.get());
    QTimer::singleShot(0, &cancelled, [&cancelled] { cancelled.CancelButton()->click(); });
    QCOMPARE(cancelled.exec(), int(QDialog::Rejected));

    CSaveDlg escaped(QStringLiteral("New data"), m_parent.get());
    QTimer::singleShot(0, &escaped, [&escaped] { QTest::keyClick(&escaped, Qt::Key_Escape); });
    QCOMPARE(escaped.exec(), int(QDialog::Rejected));
  }

  // --- CProgressDlg ---

  void theProgressDialogShowsAtOnceCentredOverItsParentWithItsRange() {
    QPointer<CProgressDlg> progress = new CProgressDlg(m_parent.get(), 5);
    QVERIFY(progress->isVisible());
    QVERIFY(progress->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(progress->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(progress->Bar()->minimum(), 0);
    QCOMPARE(progress->Bar()->maximum(), 5);
    QCOMPARE(progress->Position(), std::uint16_t{0});
    const QRect parent = m_parent->frameGeometry();
    const QRect placed = progress->frameGeometry();
    QCOMPARE(placed.x(), parent.x() + (parent.width() - placed.width()) / 2);
    QCOMPARE(placed.y(), parent.y() + (parent.height() - placed.height()) / 2);
    progress->PostClose();
    QTRY_VERIFY(progress.isNull());
  }

  void stepsPostedFromAnotherThreadAdvanceTheBarAndTheCloseFreesIt() {
    QPointer<CProgressDlg> progress = new CProgressDlg(m_parent.get(), 5);
    ProgressSink* sink = progress.data();
    // Five paths, three of them stills: the loader posts three steps.
    std::thread loader([sink] {
      for (int i = 0; i < 3; ++i) {
        sink->Step();
      }
    });
    loader.join();
    QTRY_COMPARE(progress->Position(), std::uint16_t{3});
    QCOMPARE(progress->Bar()->value(), 3);
    QCOMPARE(progress->Total(), std::uint16_t{5});
    progress->PostClose();
    QTRY_VERIFY(progress.isNull());
  }

  void aStepWhoseFirstParameterIsNotOneChangesNothing() {
    QPointer<CProgressDlg> progress = new CProgressDlg(m_parent.get(), 4);
    progress->PostStep(0);
    progress->PostStep(2);
    progress->PostStep(1);
    QTRY_COMPARE(progress->Position(), std::uint16_t{1});
    QCoreApplication::processEvents();
    QCOMPARE(progress->Position(), std::uint16_t{1});
    progress->PostClose();
    QTRY_VERIFY(progress.isNull());
  }

  void theUserCannotCloseTheProgressDialog() {
    QPointer<CProgressDlg> progress = new CProgressDlg(m_parent.get(), 2);
    QTest::keyClick(progress, Qt::Key_Escape);
    progress->close();
    QCoreApplication::processEvents();
    QVERIFY(!progress.isNull());
    QVERIFY(progress->isVisible());
    progress->PostClose();
    QTRY_VERIFY(progress.isNull());
  }

  void theWriteBackReportNamesEachPictureWithItsReasonInPlainWords() {
    WriteBackReport report;
    QCOMPARE(WriteBackMessage(report, 15), QString());
    report.written.push_back("/p/fine.jpg");
    QCOMPARE(WriteBackMessage(report, 15), QString());
    const std::vector<std::pair<XpStatus, WriteFailureReason>> failures = {
        {XpStatus::PictureReadOnly, WriteFailureReason::ReadOnly},
        {XpStatus::FileNotFound, WriteFailureReason::Missing},
        {XpStatus::ChangedOnDisk, WriteFailureReason::ChangedOnDisk},
        {XpStatus::ExifDamaged, WriteFailureReason::ExifDamaged},
        {XpStatus::DiskFull, WriteFailureReason::DiskFull},
        {XpStatus::Ok, WriteFailureReason::Declined},
        {XpStatus::BadCoordinate, WriteFailureReason::BadCoordinate},
        {XpStatus::JpegEncodeFailed, WriteFailureReason::Other},
        {XpStatus::TooManyOpenFiles, WriteFailureReason::Other},
    };
    int n = 0;
    for (const auto& [status, reason] : failures) {
      report.problems.push_back(WriteFailure{"/photos/p" + std::to_string(n++) + ".jpg", status, reason,
                                             SystemTextOf(status), std::string()});
    }
    const QString text = WriteBackMessage(report, 15);
    const QStringList expected = {
        QStringLiteral("p0.jpg: the file is read-only"),
        QStringLiteral("p1.jpg: the file was not found"),
        QStringLiteral("p2.jpg: the file was changed by another program since it was loaded"),
        QStringLiteral("p3.jpg: its Exif data is damaged"),
        QStringLiteral("p4.jpg: there is not enough space on the disk"),
        QStringLiteral("p5.jpg: you chose not to change it"),
        QStringLiteral("p6.jpg: its new location is not a valid position"),
        QStringLiteral("p7.jpg: the file could not be written (error 0x8600)"),
        QStringLiteral("p8.jpg: ") + QString::fromLocal8Bit(std::strerror(EMFILE)),
    };
    QVERIFY2(text.contains(expected.join(QLatin1Char('\n'))), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("fine.jpg")));
    // Each reason gets the advice that fits it, once; none tells to unlock a damaged file.
    QVERIFY2(text.endsWith(QStringLiteral(
                 "Read-only files: allow writing to the file and its folder, then save again.\n"
                 "Files not found: connect the disk that holds them or put them back, then save again.\n"
                 "Files changed by another program: saving again writes the new location into the file as it is "
                 "now.\n"
                 "Files with damaged Exif data: saving again does not help. Repair the file with another program, "
                 "or take the photo off the map.\n"
                 "Disk full: free some space on the disk, then save again.\n"
                 "Pictures you chose not to change: save again and answer Yes to change them.\n"
                 "Invalid locations: move the photo on the map again, then save.\n"
                 "Other errors: save again later; if the error stays, check the disk.")),
             qPrintable(text));
    WriteBackReport damaged;
    damaged.problems.push_back(WriteFailure{"/photos/a.jpg", XpStatus::ExifDamaged, WriteFailureReason::ExifDamaged,
                                            std::string(), std::string()});
    damaged.problems.push_back(WriteFailure{"/photos/b.jpg", XpStatus::ExifDamaged, WriteFailureReason::ExifDamaged,
                                            std::string(), std::string()});
    const QString damagedText = WriteBackMessage(damaged, 15);
    QCOMPARE(damagedText.count(QStringLiteral("saving again does not help")), 1);
    QVERIFY(!damagedText.contains(QStringLiteral("allow writing")));
    QVERIFY(!damagedText.contains(QStringLiteral("unlock")));

    // A long list shows its first lines and counts the rest.
    report.problems.resize(20, report.problems.front());
    const QString longText = WriteBackMessage(report, 15);
    QCOMPARE(longText.count(QStringLiteral(".jpg: ")), 15);
    QVERIFY(longText.contains(QStringLiteral("(+5)")));
  }
};

TV_QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"

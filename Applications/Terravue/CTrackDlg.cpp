#include "Applications/Terravue/CTrackDlg.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/TrackPageAccess.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/TrackFiles.h"
#include "Applications/Terravue/mapdata/TrackSniff.h"

namespace {

// A line with more points than this is thinned for drawing; matching always
// uses every fix.
constexpr std::size_t kMaxDrawnPointsPerLine = 5000;

// Degrees with seven decimals for the page script, always with a decimal
// point: the user's number locale (a decimal comma) must not reach JSON.
std::string Number(double value) {
  char text[64];
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 7);
  return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("0");
}

QString Text(const char* key) { return AppStrings::Instance().Text(QString::fromLatin1(key)); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A camera clock reading (the wall time counted as if it were UTC) as the camera shows it.
QString ClockText(std::int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A true time on this computer's clock, in the user's locale.
QString LocalText(std::int64_t utcSeconds) {
  return QLocale().toString(QDateTime::fromSecsSinceEpoch(utcSeconds).toLocalTime(), QLocale::ShortFormat);
}

// A photo's clock reading in seconds, counted as if it were UTC.
std::optional<std::int64_t> ClockSeconds(const PhotoTime& time) {
  const auto fields = time.local.GetFields();
  if (!time.local.IsValid() || !fields) {
    return std::nullopt;
  }
  return UtcSecondsFromFields(fields->year, fields->month, fields->day, fields->hour, fields->minute, fields->second);
}

// Milliseconds to whole seconds, rounded down.
std::int64_t FloorSeconds(std::int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

QString LoadFailure(const QString& path, XpStatus status) {
  const QString name = QFileInfo(path).fileName();
  switch (status) {
    case XpStatus::TrackLogInvalid:
      return FormatText(Text("track/invalid"), {name});
    case XpStatus::TrackLogTooLarge:
      return FormatText(Text("track/tooLarge"), {name, QString::number(TrackLog::kMaxFileBytes / (1024 * 1024)),
                                                 QString::number(TrackLog::kMaxFixes)});
    default:
      return FormatText(Text("track/unreadable"), {name, QString::fromStdString(XpStatusText(status))});
  }
}

}  // namespace

CTrackDlg::CTrackDlg(TrackPageAccess* page, QWidget* parent) : QDockWidget(parent), m_page(page) {
  setObjectName(QStringLiteral("TrackDlg"));
  setWindowTitle(Text("track/title"));
  // Docked only: a floating panel would lie over the line and the photos it places.
  setFeatures(QDockWidget::DockWidgetClosable);
  setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
  // Hidden until a track is loaded or the user asks for it.
  hide();
  auto* body = new QWidget(this);
  setWidget(body);

  m_zone = new QLineEdit(body);
  m_zone->setObjectName(QStringLiteral("zone"));
  m_zone->setPlaceholderText(Text("track/zoneHint"));
  m_zone->setToolTip(Text("track/zoneTip"));
  m_offset = new QLineEdit(QStringLiteral("+0:00:00"), body);
  m_offset->setObjectName(QStringLiteral("offset"));
  m_offset->setToolTip(Text("track/offsetTip"));
  m_leaveLocated = new QCheckBox(Text("track/leaveLocated"), body);
  m_leaveLocated->setObjectName(QStringLiteral("leaveLocated"));
  m_leaveLocated->setChecked(true);
  m_fromSelected = new QPushButton(Text("track/fromSelected"), body);
  m_fromSelected->setObjectName(QStringLiteral("fromSelected"));
  m_fromSelected->setToolTip(Text("track/fromSelectedTip"));
  m_summary = new QLabel(body);
  m_summary->setObjectName(QStringLiteral("summary"));
  m_summary->setWordWrap(true);
  m_trackSpan = new QLabel(body);
  m_trackSpan->setObjectName(QStringLiteral("trackSpan"));
  m_trackSpan->setWordWrap(true);
  m_photoSpan = new QLabel(body);
  m_photoSpan->setObjectName(QStringLiteral("photoSpan"));
  m_photoSpan->setWordWrap(true);
  m_apply = new QPushButton(Text("track/apply"), body);
  m_apply->setObjectName(QStringLiteral("apply"));
  auto* load = new QPushButton(Text("track/load"), body);
  load->setObjectName(QStringLiteral("load"));
  auto* close = new QPushButton(Text("track/close"), body);
  close->setObjectName(QStringLiteral("close"));

  auto* form = new QFormLayout;
  form->addRow(Text("track/zoneLabel"), m_zone);
  form->addRow(Text("track/offsetLabel"), m_offset);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(load);
  buttons->addStretch();
  buttons->addWidget(m_apply);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(body);
  layout->addLayout(form);
  layout->addWidget(m_leaveLocated);
  layout->addWidget(m_fromSelected);
  layout->addWidget(m_trackSpan);
  layout->addWidget(m_photoSpan);
  layout->addWidget(m_summary);
  layout->addStretch();
  layout->addLayout(buttons);

  connect(m_zone, &QLineEdit::textChanged, this, &CTrackDlg::Recompute);
  connect(m_offset, &QLineEdit::textChanged, this, &CTrackDlg::Recompute);
  connect(m_leaveLocated, &QCheckBox::toggled, this, &CTrackDlg::Recompute);
  connect(m_fromSelected, &QPushButton::clicked, this, &CTrackDlg::SetOffsetFromSelected);
  connect(m_apply, &QPushButton::clicked, this, &CTrackDlg::Apply);
  connect(load, &QPushButton::clicked, this, &CTrackDlg::ChooseTracks);
  connect(close, &QPushButton::clicked, this, &QWidget::hide);
}

bool CTrackDlg::IsTrackPath(const QString& path) { return IsTrackLogPath(path.toStdString()); }

QStringList CTrackDlg::TakeTrackPaths(QStringList& paths) {
  QStringList tracks;
  for (auto it = paths.begin(); it != paths.end();) {
    if (IsTrackPath(*it)) {
      tracks.append(*it);
      it = paths.erase(it);
    } else {
      ++it;
    }
  }
  return tracks;
}

void CTrackDlg::ChooseTracks() {
  // NMEA logs often carry the logger's own extension; their content tells them apart.
  const QString filter = Text("track/filterLogs") +
                         QStringLiteral(" (*.gpx *.GPX *.nmea *.NMEA *.log *.LOG *.txt *.TXT);;") +
                         Text("track/filterAll") + QStringLiteral(" (*)");
  const QStringList paths =
      QFileDialog::getOpenFileNames(m_page->BoxParent(), Text("track/dialogTitle"), QDir::homePath(), filter);
  for (const QString& path : paths) {
    static_cast<void>(AddTrack(path));
  }
}

bool CTrackDlg::AddTrack(const QString& path, QString* error) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (m_paths.contains(absolute)) {
    show();
    raise();
    return true;
  }
  const XpStatus status = m_log.AddFile(absolute.toStdString());
  if (status != XpStatus::Ok) {
    const QString text = LoadFailure(absolute, status);
    if (error != nullptr) {
      *error = text;
    }
    ShowAppMessage(m_page->BoxParent(), QMessageBox::Warning, text);
    return false;
  }
  m_paths.append(absolute);
  show();
  raise();
  m_fitPending = !Redraw(/*fit=*/true);
  Recompute();
  return true;
}

void CTrackDlg::ClearTracks() {
  m_log = TrackLog();
  m_paths.clear();
  static_cast<void>(Redraw(/*fit=*/false));
  Recompute();
}

void CTrackDlg::KeepWithState(const std::string& stateFilePath) {
  const std::string folder = FolderOf(stateFilePath);
  if (folder.empty()) {
    return;
  }
  std::vector<std::string> sources;
  for (const QString& path : m_paths) {
    sources.push_back(path.toStdString());
  }
  std::vector<std::string> kept;
  if (const XpStatus st = KeepTracksWithState(folder, sources, &kept); st != XpStatus::Ok) {
    ShowAppMessage(m_page->BoxParent(), QMessageBox::Warning,
                   FormatText(Text("track/notKept"), {QString::fromStdString(XpStatusText(st))}));
  }
  // The log stays as loaded; only the files it came from are now the copies.
  m_paths.clear();
  for (const std::string& path : kept) {
    m_paths.append(QString::fromStdString(path));
  }
  m_shownState = stateFilePath;
  m_fromState = !m_paths.isEmpty();
}

std::optional<GeotagOptions> CTrackDlg::Options() const {
  GeotagOptions options;
  const QString zone = m_zone->text().trimmed();
  if (!zone.isEmpty()) {
    options.zoneSeconds = ParseZoneOffset(zone.toStdString());
    if (!options.zoneSeconds) {
      return std::nullopt;
    }
  }
  const QString offset = m_offset->text().trimmed();
  if (!offset.isEmpty()) {
    const auto seconds = ParseClockOffset(offset.toStdString());
    if (!seconds) {
      return std::nullopt;
    }
    options.clockOffsetSeconds = *seconds;
  }
  return options;
}

const PhotoTime* CTrackDlg::TimeOf(const PictureRecord& record) {
  ReadTime& known = m_times[record.m_path];
  if (known.fileSize < 0 || known.fileSize != record.m_fileSize || known.fileTimeNs != record.m_fileTimeNs) {
    known.fileSize = record.m_fileSize;
    known.fileTimeNs = record.m_fileTimeNs;
    known.time.reset();
    PhotoTime time;
    if (ReadPhotoTime(record.m_path, &time)) {
      known.time = time;
    }
  }
  return known.time ? &*known.time : nullptr;
}

bool CTrackDlg::Redraw(bool fit) {
  if (!m_page->MapPageShown()) {
    return false;
  }
  std::string files = "[";
  for (std::size_t file = 0; file < m_log.FileCount(); ++file) {
    files += file == 0 ? "{\"lines\":[" : ",{\"lines\":[";
    bool firstLine = true;
    for (const TrackSegment& segment : m_log.Segments()) {
      if (segment.file != file || segment.fixes.empty()) {
        continue;
      }
      files += firstLine ? "[" : ",[";
      firstLine = false;
      const std::size_t step = segment.fixes.size() / kMaxDrawnPointsPerLine + 1;
      for (std::size_t i = 0; i < segment.fixes.size(); i += step) {
        const TrackFix& fix = segment.fixes[i];
        files += (i == 0 ? "[" : ",[") + Number(fix.latitude) + "," + Number(fix.longitude) + "]";
      }
      files += "]";
    }
    files += "]}";
  }
  files += "]";
  m_page->RunPageScript(QStringLiteral("typeof tvTracksShow === 'function' ? tvTracksShow(%1, %2) : -1")
                            .arg(QString::fromStdString(files), fit ? QStringLiteral("true") : QStringLiteral("false")),
                        {});
  return true;
}

void CTrackDlg::Recompute() {
  m_placed = 0;
  m_unmatched = 0;
  m_preview.clear();
  const auto options = Options();
  std::string items = "[";
  std::optional<std::int64_t> cameraFirst;
  std::optional<std::int64_t> cameraLast;
  std::optional<std::int64_t> utcFirst;
  std::optional<std::int64_t> utcLast;
  const auto widen = [](std::optional<std::int64_t>* first, std::optional<std::int64_t>* last, std::int64_t value) {
    *first = *first ? std::min(**first, value) : value;
    *last = *last ? std::max(**last, value) : value;
  };
  if (!options) {
    m_summary->setText(Text("track/badOptions"));
  } else if (!m_log.Empty() && !m_page->PicturesLoading()) {
    const PictureList& pictures = m_page->Pictures();
    for (std::size_t i = 0; i < pictures.Count(); ++i) {
      const PictureRecord& record = pictures.At(i);
      if (m_leaveLocated->isChecked() && record.m_latitude != kNoLatitudeText &&
          record.m_longitude != kNoLongitudeText) {
        continue;
      }
      const PhotoTime* time = TimeOf(record);
      if (time != nullptr) {
        if (const auto clock = ClockSeconds(*time)) {
          widen(&cameraFirst, &cameraLast, *clock);
        }
      }
      const GeotagFix fix = time != nullptr ? GeotagPhoto(m_log, *time, *options) : GeotagFix{};
      if (fix.status != GeotagStatus::NoTime) {
        widen(&utcFirst, &utcLast, fix.utcSeconds);
      }
      if (!fix.Placed()) {
        ++m_unmatched;
        continue;
      }
      items += (m_placed == 0 ? "{\"index\":" : ",{\"index\":") + std::to_string(i + 1) +
               ",\"lat\":" + Number(fix.latitude) + ",\"lng\":" + Number(fix.longitude) + "}";
      m_preview.emplace_back(record.m_path, fix);
      ++m_placed;
    }
    m_summary->setText(FormatText(Text("track/preview"), {QString::number(m_placed), QString::number(m_unmatched)}));
  } else {
    m_summary->setText(m_log.Empty() ? Text("track/none") : QString());
  }
  ShowSpans(options.value_or(GeotagOptions{}), cameraFirst, cameraLast, utcFirst, utcLast);
  items += "]";
  m_apply->setEnabled(m_placed > 0);
  if (!m_page->MapPageShown()) {
    emit previewShown(m_placed, m_unmatched);
    return;
  }
  const int placed = m_placed;
  const int unmatched = m_unmatched;
  QPointer<CTrackDlg> self(this);
  m_page->RunPageScript(QStringLiteral("typeof tvTracksPreview === 'function' ? tvTracksPreview(%1) : -1")
                            .arg(QString::fromStdString(items)),
                        [self, placed, unmatched](const QVariant&) {
                          if (self) {
                            emit self->previewShown(placed, unmatched);
                          }
                        });
}

std::int64_t CTrackDlg::CameraClock(std::int64_t utcSeconds, const GeotagOptions& options) {
  const int zone = options.zoneSeconds ? *options.zoneSeconds
                                       : QDateTime::fromSecsSinceEpoch(utcSeconds).toLocalTime().offsetFromUtc();
  return utcSeconds + zone + options.clockOffsetSeconds;
}

void CTrackDlg::ShowSpans(const GeotagOptions& options, std::optional<std::int64_t> cameraFirst,
                          std::optional<std::int64_t> cameraLast, std::optional<std::int64_t> utcFirst,
                          std::optional<std::int64_t> utcLast) {
  if (m_log.Empty()) {
    m_trackSpan->clear();
    m_photoSpan->clear();
    return;
  }
  const std::int64_t trackFirst = FloorSeconds(m_log.Fixes().front().timeMs);
  const std::int64_t trackLast = FloorSeconds(m_log.Fixes().back().timeMs);
  m_trackSpan->setText(FormatText(Text("track/trackSpan"), {LocalText(trackFirst), LocalText(trackLast),
                                                            ClockText(CameraClock(trackFirst, options)),
                                                            ClockText(CameraClock(trackLast, options))}));
  if (!cameraFirst || !cameraLast) {
    m_photoSpan->setText(m_page->PicturesLoading() ? QString() : Text("track/noPhotoTimes"));
    return;
  }
  QString text = FormatText(Text("track/photoSpan"), {ClockText(*cameraFirst), ClockText(*cameraLast)});
  // The photos' true times beside the track's: a zone or clock offset that is wrong shows here.
  const bool overlap = utcFirst && utcLast && *utcFirst <= trackLast && *utcLast >= trackFirst;
  if (!overlap) {
    text += QLatin1Char(' ') + Text("track/noOverlap");
  }
  m_photoSpan->setText(text);
}

void CTrackDlg::Apply() {
  if (!m_page->MapPageShown() || m_placed == 0) {
    return;
  }
  QPointer<CTrackDlg> self(this);
  auto placed = m_preview;
  m_page->RunPageScript(QStringLiteral("typeof tvTracksApply === 'function' ? tvTracksApply() : 0"),
                        [self, placed](const QVariant& answer) {
                          if (!self) {
                            return;
                          }
                          const int moved = answer.toInt();
                          if (moved > 0) {
                            self->m_page->MarkMapModified();
                            self->m_page->NoteTrackPlaced(placed);
                          }
                          self->m_placed = 0;
                          self->m_apply->setEnabled(false);
                          self->m_summary->setText(FormatText(Text("track/applied"), {QString::number(moved)}));
                          emit self->applied(moved);
                        });
}

void CTrackDlg::SetOffsetFromSelected() {
  if (!m_page->MapPageShown() || m_page->PicturesLoading() || m_log.Empty()) {
    return;
  }
  QPointer<CTrackDlg> self(this);
  m_page->RunPageScript(
      QStringLiteral("typeof tvTracksSelected === 'function' ? tvTracksSelected() : null"),
      [self](const QVariant& answer) {
        if (!self) {
          return;
        }
        const QVariantMap selected = answer.toMap();
        const int index = selected.value(QStringLiteral("index")).toInt();
        const PhotoTime* time = nullptr;
        if (!self->m_page->PicturesLoading()) {
          const PictureList& pictures = self->m_page->Pictures();
          if (index >= 1 && static_cast<std::size_t>(index) <= pictures.Count()) {
            time = self->TimeOf(pictures.At(static_cast<std::size_t>(index - 1)));
          }
        }
        auto options = self->Options();
        if (!options) {
          options = GeotagOptions{};
        }
        const auto offset = time != nullptr ? ClockOffsetFromPlace(self->m_log, *time, *options,
                                                                   selected.value(QStringLiteral("lat")).toDouble(),
                                                                   selected.value(QStringLiteral("lng")).toDouble())
                                            : std::nullopt;
        if (!offset) {
          ShowAppMessage(self->m_page->BoxParent(), QMessageBox::Information, Text("track/selectFirst"));
          return;
        }
        self->m_offset->setText(QString::fromStdString(FormatClockOffset(*offset)));
        emit self->offsetFound(*offset);
      });
}

void CTrackDlg::LoadStateTracks() {
  const std::string state = m_page->ShownStateFile();
  if (state == m_shownState) {
    return;
  }
  m_shownState = state;
  const std::vector<std::string> kept = state.empty() ? std::vector<std::string>() : TracksOfState(FolderOf(state));
  // Tracks loaded for a map not saved yet stay until a saved map brings its own.
  if (kept.empty() && !m_fromState) {
    return;
  }
  m_log = TrackLog();
  m_paths.clear();
  m_times.clear();
  m_fromState = !kept.empty();
  for (const std::string& path : kept) {
    // A kept copy that no longer reads is left out; the map itself still opens.
    if (m_log.AddFile(path) == XpStatus::Ok) {
      m_paths.append(QString::fromStdString(path));
    }
  }
}

void CTrackDlg::PageShown(bool mapPage) {
  if (!mapPage || m_page->PicturesLoading()) {
    return;
  }
  LoadStateTracks();
  if (!m_log.Empty()) {
    Redraw(/*fit=*/m_fitPending);
    m_fitPending = false;
  }
  Recompute();
}

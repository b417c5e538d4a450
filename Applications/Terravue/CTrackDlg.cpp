#include "Applications/Terravue/CTrackDlg.h"

#include <QCheckBox>
#include <QComboBox>
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
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "Applications/Terravue/AppGlobals.h"
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

// How many fixes spread over a track tell the zones it passes through.
constexpr std::size_t kZoneSamples = 48;

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
  m_zoneChoice = new QComboBox(body);
  m_zoneChoice->setObjectName(QStringLiteral("zoneChoice"));
  m_zoneChoice->addItem(Text("track/zoneAuto"), QString());
  m_zoneChoice->setToolTip(Text("track/zoneChoiceTip"));
  m_clock = new QLabel(body);
  m_clock->setObjectName(QStringLiteral("clock"));
  m_clock->setWordWrap(true);
  m_crossing = new QLabel(body);
  m_crossing->setObjectName(QStringLiteral("crossing"));
  m_crossing->setWordWrap(true);
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
  form->addRow(Text("track/zoneChoiceLabel"), m_zoneChoice);
  form->addRow(Text("track/offsetLabel"), m_offset);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(load);
  buttons->addStretch();
  buttons->addWidget(m_apply);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(body);
  layout->addLayout(form);
  layout->addWidget(m_clock);
  layout->addWidget(m_crossing);
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
  connect(m_zoneChoice, &QComboBox::currentIndexChanged, this, [this](int index) {
    m_overrideZone = m_zoneChoice->itemData(index).toString().toStdString();
    Recompute();
  });
  connect(m_fromSelected, &QPushButton::clicked, this, &CTrackDlg::SetOffsetFromSelected);
  connect(m_apply, &QPushButton::clicked, this, &CTrackDlg::Apply);
  connect(load, &QPushButton::clicked, this, &CTrackDlg::ChooseTracks);
  connect(close, &QPushButton::clicked, this, &QWidget::hide);

  // The map lies with the page files, in the folder of the program's map page.
  const QString mapPage = QUrl(AppGlobals::Get().mapPageUrl).toLocalFile();
  if (!mapPage.isEmpty()) {
    m_zoneMapPath = QFileInfo(mapPage).absolutePath() + QStringLiteral("/zones.tvz");
  }
  m_zoneTablePath = QString::fromLatin1(kSystemZoneTable);
}

void CTrackDlg::UseZoneFiles(const QString& mapPath, const QString& tablePath) {
  m_zoneMapPath = mapPath;
  m_zoneTablePath = tablePath;
  m_zoneFilesRead = false;
  m_trackZonesOf = 0;
  Recompute();
}

void CTrackDlg::LoadZoneFiles() {
  if (m_zoneFilesRead) {
    return;
  }
  m_zoneFilesRead = true;
  m_zoneMap = TimeZoneIndex();
  m_countries = ZoneCountries();
  // A map or table that is missing or damaged leaves the camera on this computer's zone, as
  // before there was a map; nothing is refused for it.
  m_zoneMapLoaded = !m_zoneMapPath.isEmpty() && m_zoneMap.LoadFile(m_zoneMapPath.toStdString()) == XpStatus::Ok;
  if (!m_zoneTablePath.isEmpty()) {
    // With the table beside it, the zones it counts as links (Europe/Amsterdam, which the map
    // still answers) find their country, and so the override list of that country's zones.
    static_cast<void>(m_countries.LoadWithLinks(m_zoneTablePath.toStdString()));
  }
  m_zone->setPlaceholderText(Text(m_zoneMapLoaded ? "track/zoneHintPosition" : "track/zoneHint"));
}

const std::vector<std::string>& CTrackDlg::TrackZones() {
  const std::vector<TrackFix>& fixes = m_log.Fixes();
  if (m_trackZonesOf == fixes.size() + 1) {
    return m_trackZones;
  }
  m_trackZones.clear();
  m_trackZonesOf = fixes.size() + 1;
  if (!m_zoneMapLoaded || fixes.empty()) {
    return m_trackZones;
  }
  const std::size_t step = fixes.size() / kZoneSamples + 1;
  const auto add = [this](const TrackFix& fix) {
    const auto zone = m_zoneMap.ZoneAt(GeoPoint{fix.latitude, fix.longitude});
    int offset = 0;
    if (zone && ZoneOffsetAtUtc(*zone, fix.timeMs, &offset) == XpStatus::Ok) {
      const std::string entry = std::string(*zone) + " " + ZoneOffsetText(offset);
      if (std::find(m_trackZones.begin(), m_trackZones.end(), entry) == m_trackZones.end()) {
        m_trackZones.push_back(entry);
      }
    }
  };
  for (std::size_t i = 0; i < fixes.size(); i += step) {
    add(fixes[i]);
  }
  add(fixes.back());
  return m_trackZones;
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

bool CTrackDlg::AddPhotos(const std::vector<ExportPhoto>& photos, QString* error) {
  // Taken as a file of its own is: the same reader, the same limits, the log unchanged on failure.
  if (const XpStatus status = AddPhotosAsTrack(photos, &m_log); status != XpStatus::Ok) {
    *error = LoadFailure(Text("photoTrack/name"), status);
    return false;
  }
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
  std::vector<std::string> photoZones;
  std::optional<std::int64_t> firstClock;
  std::string firstZone;
  int firstOffset = 0;
  const auto widen = [](std::optional<std::int64_t>* first, std::optional<std::int64_t>* last, std::int64_t value) {
    *first = *first ? std::min(**first, value) : value;
    *last = *last ? std::max(**last, value) : value;
  };
  if (!options) {
    m_summary->setText(Text("track/badOptions"));
  } else if (!m_log.Empty() && !m_page->PicturesLoading()) {
    LoadZoneFiles();
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
      // A photo that records no zone is read in the zone chosen for the camera, else in the zone
      // where the track is on its date; a zone typed as an offset wins over both.
      GeotagOptions photoOptions = *options;
      std::string chosen;
      if (time != nullptr && !time->zoneSeconds && !options->zoneSeconds) {
        int offset = 0;
        const auto clock = ClockSeconds(*time);
        if (!m_overrideZone.empty() && clock &&
            ZoneOffsetAtLocal(m_overrideZone, *clock * 1000, &offset) == XpStatus::Ok) {
          photoOptions.zoneSeconds = offset;
          chosen = m_overrideZone;
        } else if (m_overrideZone.empty() && m_zoneMapLoaded) {
          photoOptions.zoneMap = &m_zoneMap;
        }
      }
      GeotagFix fix = time != nullptr ? GeotagPhoto(m_log, *time, photoOptions) : GeotagFix{};
      if (!chosen.empty()) {
        fix.zone = chosen;
        fix.zoneSeconds = *photoOptions.zoneSeconds;
      }
      if (!fix.zone.empty()) {
        const std::string entry = fix.zone + " " + ZoneOffsetText(fix.zoneSeconds);
        if (std::find(photoZones.begin(), photoZones.end(), entry) == photoZones.end()) {
          photoZones.push_back(entry);
        }
        if (const auto clock = ClockSeconds(*time); clock && (!firstClock || *clock < *firstClock)) {
          firstClock = clock;
          firstZone = fix.zone;
          firstOffset = fix.zoneSeconds;
        }
      }
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
  ShowClockZone(firstZone, firstOffset, photoZones);
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

std::int64_t CTrackDlg::CameraClock(std::int64_t utcSeconds, const GeotagOptions& options) const {
  int zone = QDateTime::fromSecsSinceEpoch(utcSeconds).toLocalTime().offsetFromUtc();
  if (options.zoneSeconds) {
    zone = *options.zoneSeconds;
  } else if (!m_overrideZone.empty()) {
    static_cast<void>(ZoneOffsetAtUtc(m_overrideZone, utcSeconds * 1000, &zone));
  } else if (m_zoneMapLoaded) {
    // The zone where the track is at that moment.
    const GeotagFix at = MatchTime(m_log, utcSeconds, options);
    if (at.Placed()) {
      if (const auto name = m_zoneMap.ZoneAt(GeoPoint{at.latitude, at.longitude})) {
        static_cast<void>(ZoneOffsetAtUtc(*name, utcSeconds * 1000, &zone));
      }
    }
  }
  return utcSeconds + zone + options.clockOffsetSeconds;
}

void CTrackDlg::ShowClockZone(const std::string& firstZone, int firstOffset, const std::vector<std::string>& zones) {
  if (firstZone.empty()) {
    m_clock->clear();
  } else {
    QString line = FormatText(Text(m_overrideZone.empty() ? "track/clockFromPosition" : "track/clockChosen"),
                              {QString::fromStdString(firstZone), QString::fromStdString(ZoneOffsetText(firstOffset))});
    if (zones.size() > 1) {
      QStringList all;
      for (const std::string& zone : zones) {
        all.append(QString::fromStdString(zone));
      }
      line += QLatin1Char(' ') + FormatText(Text("track/clockDiffers"), {all.join(QStringLiteral(", "))});
    }
    m_clock->setText(line);
  }
  // The trip crosses a zone or a change of daylight saving time: the photos' clocks or the
  // track's fixes meet more than one zone or offset.
  const bool crossing = !m_log.Empty() && (zones.size() > 1 || TrackZones().size() > 1);
  m_crossing->setText(crossing ? Text("track/crossing") : QString());
  // The override list: the zones of the first photo's country, kept while one of them is chosen.
  if (!m_overrideZone.empty() || firstZone.empty()) {
    return;
  }
  const std::vector<std::string> countries = m_countries.CountriesOf(firstZone);
  const std::vector<std::string> offered =
      countries.empty() ? std::vector<std::string>{} : m_countries.ZonesOf(countries.front());
  std::vector<std::string> listed;
  for (int i = 1; i < m_zoneChoice->count(); ++i) {
    listed.push_back(m_zoneChoice->itemData(i).toString().toStdString());
  }
  if (listed == offered) {
    return;
  }
  const QSignalBlocker quiet(m_zoneChoice);
  while (m_zoneChoice->count() > 1) {
    m_zoneChoice->removeItem(1);
  }
  for (const std::string& zone : offered) {
    m_zoneChoice->addItem(QString::fromStdString(zone), QString::fromStdString(zone));
  }
  m_zoneChoice->setCurrentIndex(0);
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
        const double lat = selected.value(QStringLiteral("lat")).toDouble();
        const double lng = selected.value(QStringLiteral("lng")).toDouble();
        // A photo that records no zone was read in the zone chosen, else in the zone of the place
        // the user put it.
        if (time != nullptr && !time->zoneSeconds && !options->zoneSeconds) {
          std::string zone = self->m_overrideZone;
          if (zone.empty() && self->m_zoneMapLoaded) {
            if (const auto there = self->m_zoneMap.ZoneAt(GeoPoint{lat, lng})) {
              zone = std::string(*there);
            }
          }
          int zoneOffset = 0;
          if (const auto clock = ClockSeconds(*time);
              !zone.empty() && clock && ZoneOffsetAtLocal(zone, *clock * 1000, &zoneOffset) == XpStatus::Ok) {
            options->zoneSeconds = zoneOffset;
          }
        }
        const auto offset =
            time != nullptr ? ClockOffsetFromPlace(self->m_log, *time, *options, lat, lng) : std::nullopt;
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

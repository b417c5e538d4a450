// "Name places" of the map window: the selected photos' proposals in a dialog, and the names
// chosen held as changes the next save writes.
#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>
#include <vector>

#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CPlaceNamesDlg.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PlaceNaming.h"
#include "xp/formats/XpPhotoWrite.h"

namespace {

QString Text(const char* key) { return AppStrings::Instance().Text(QString::fromLatin1(key)); }

// The record's position in degrees; false for a photo without one.
bool PositionOf(const PictureRecord& record, GeoPoint* point) {
  XpGPSRef latRef;
  XpGPSRef lngRef;
  XpGPSRational3 lat;
  XpGPSRational3 lng;
  return TextToRationals(record.m_latitude, &latRef, &lat, /*latitude=*/true) &&
         TextToRationals(record.m_longitude, &lngRef, &lng, /*latitude=*/false) &&
         RationalsToDegrees(latRef, lat, &point->latitude) && RationalsToDegrees(lngRef, lng, &point->longitude);
}

}  // namespace

void CTerravueHtmlWnd::NamePlaces() {
  if (m_loading || m_saving || m_sending || m_readingPage || GetPageKind() != PageKind::PageServer) {
    return;
  }
  // The map takes the page's moves first: the names are those of the positions shown.
  static_cast<void>(ReadPageEdits(/*withPictures=*/true));
  if (m_sending) {
    return;
  }
  m_readingPage = true;
  const std::optional<QVariant> answer =
      RunPageScriptAndWait(QStringLiteral("(tv.selection || []).filter(function (p) { return !p.removed; })"
                                          ".map(function (p) { return p.index; })"));
  m_readingPage = false;
  std::vector<std::size_t> selected;
  auto& records = m_currentMap.m_pictures.Records();
  if (answer) {
    for (const QVariant& item : answer->toList()) {
      const qlonglong index = item.toLongLong();
      if (index >= 1 && static_cast<std::size_t>(index) <= records.size()) {
        selected.push_back(static_cast<std::size_t>(index - 1));
      }
    }
  }
  if (selected.empty()) {
    ShowAppMessage(window(), QMessageBox::Information, Text("places/noneSelected"));
    return;
  }

  const std::string folder = ProgramFolder().toStdString();
  PlaceIndex places;
  if (places.LoadFile(JoinMapPath(folder, "places.tvp")) != XpStatus::Ok) {
    ShowAppMessage(window(), QMessageBox::Warning, Text("places/noIndex"));
    return;
  }
  // The time-zone map and tzdata's table check the country; without them it goes unchecked.
  TimeZoneIndex zones;
  const bool haveZones = zones.LoadFile(JoinMapPath(folder, "zones.tvz")) == XpStatus::Ok;
  ZoneCountries countries;
  // The zones that table counts as links still name their country in the one beside it.
  const bool haveCountries = haveZones && countries.LoadWithLinks(kSystemZoneTable) == XpStatus::Ok;

  std::vector<PlaceNamingRow> rows;
  std::vector<std::size_t> rowRecords;
  std::vector<XpLocationWrite::Names> heldBefore;  // what each row's photo holds now
  int leftOut = 0;
  for (const std::size_t i : selected) {
    const PictureRecord& record = records[i];
    PlaceNamingRow row;
    row.fileName = QString::fromStdString(MapFileNameOf(record.m_path));
    // Only photos whose place names this program writes: with a position, and an XMP packet and
    // IIM block (or XMP sidecar) that read.
    if (!PositionOf(record, &row.position) ||
        ProposePlace(places, haveZones ? &zones : nullptr, haveCountries ? &countries : nullptr, row.position,
                     &row.proposal) != XpStatus::Ok ||
        XpPhotoWrite::ReadNames(record.m_path, &row.current) != XpStatus::Ok) {
      ++leftOut;
      continue;
    }
    heldBefore.push_back(NamesHeld(row.current));
    rows.push_back(std::move(row));
    rowRecords.push_back(i);
  }
  if (rows.empty()) {
    ShowAppMessage(window(), QMessageBox::Information, Text("places/nothingToName"));
    return;
  }
  CPlaceNamesDlg dialog(std::move(rows), CPlaceNamesDlg::NoteText(leftOut, haveZones, haveCountries), window());
  if (dialog.exec() != QDialog::Accepted || m_loading || m_saving || m_sending ||
      GetPageKind() != PageKind::PageServer) {
    return;
  }
  // Each photo keeps every set of names it had this session, so that the page's undo can ask for
  // an earlier one again even after a save wrote the later one: [index, set before, set now].
  QJsonArray named;
  for (std::size_t row = 0; row < rowRecords.size(); ++row) {
    std::optional<XpLocationWrite::Names> names = dialog.Names(row);
    if (!names || rowRecords[row] >= records.size()) {
      continue;
    }
    PictureRecord& record = records[rowRecords[row]];
    if (record.m_nameVersions.empty()) {
      record.m_nameVersions.push_back(heldBefore[row]);
    }
    const std::uint32_t before = record.m_namesWanted;
    record.m_nameVersions.push_back(*names);
    static_cast<void>(record.WantNames(static_cast<std::uint32_t>(record.m_nameVersions.size() - 1)));
    named.append(QJsonArray{static_cast<qint64>(rowRecords[row] + 1), static_cast<qint64>(before),
                            static_cast<qint64>(record.m_namesWanted)});
  }
  if (named.isEmpty()) {
    return;
  }
  m_modified = true;
  const QString list = QString::fromUtf8(QJsonDocument(named).toJson(QJsonDocument::Compact));
  m_readingPage = true;
  static_cast<void>(
      RunPageScriptAndWait(QStringLiteral("typeof tvNamePictures === 'function' ? tvNamePictures(%1) : 0").arg(list)));
  m_readingPage = false;
  ShowPendingMarks();
}

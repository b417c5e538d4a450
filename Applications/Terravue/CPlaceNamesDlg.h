#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <vector>

#include "Applications/Terravue/mapdata/PlaceNaming.h"
#include "xp/image/XpLocationWrite.h"

class QComboBox;
class QPushButton;
class QTableWidget;

/// One photo offered for naming: the places it may be named after, nearest first, and what it
/// holds now.
struct PlaceNamingRow {
  QString fileName;  ///< as shown
  PlaceProposal proposal;
  GeoPoint position;
  XpLocationWrite::Current current;
};

/// "Name places": per photo, the nearest place with its division, country, distance and
/// direction, the next nearest ones to choose instead (or none: the photo stays as it is), and a
/// preview of each location field as the photo holds it and as it would be written. A proposal
/// that needs a look (a country the time zone does not cover, a place far away) is marked. The
/// dialog writes nothing; the caller reads Names() when exec() answered Accepted.
class CPlaceNamesDlg : public QDialog {
  Q_OBJECT

 public:
  /// The preview's columns after the photo and the place.
  enum Column { kPhoto = 0, kPlace, kCity, kState, kCountry, kCode, kSublocation, kReview, kColumns };

  /// `note` (may be empty) is shown under the introduction.
  CPlaceNamesDlg(std::vector<PlaceNamingRow> rows, const QString& note, QWidget* parent);

  /// The names chosen for row `row`; nothing when the photo is to stay as it is.
  [[nodiscard]] std::optional<XpLocationWrite::Names> Names(std::size_t row) const;

  [[nodiscard]] QTableWidget* Table() const { return m_table; }
  [[nodiscard]] QComboBox* ChoiceBox(std::size_t row) const;
  [[nodiscard]] QPushButton* NameButton() const { return m_name; }
  [[nodiscard]] QPushButton* CancelButton() const { return m_cancel; }

  /// "Gion, 0.8 km NE (Kyōto, Japan, JP)".
  [[nodiscard]] static QString ChoiceText(const PlaceMatch& match, const GeoPoint& position);
  /// The note under the introduction: how many selected photos are left out, and that the
  /// countries go unchecked without the time-zone map or the zone table. Empty when all is there.
  [[nodiscard]] static QString NoteText(int leftOut, bool haveZoneMap, bool haveZoneTable);
  /// Why `proposal` needs a look, in the user's language; empty when it needs none.
  [[nodiscard]] static QString ReviewText(const PlaceProposal& proposal);
  /// The names written for `match` (the country's alpha-3 code for IIM).
  [[nodiscard]] static XpLocationWrite::Names NamesOf(const PlaceMatch& match);

 private:
  void ShowPreview(std::size_t row);

  std::vector<PlaceNamingRow> m_rows;
  QTableWidget* m_table = nullptr;
  std::vector<QComboBox*> m_choices;
  QPushButton* m_name = nullptr;
  QPushButton* m_cancel = nullptr;
};

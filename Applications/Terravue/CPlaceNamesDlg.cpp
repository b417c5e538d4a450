#include "Applications/Terravue/CPlaceNamesDlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>

#include "Applications/Terravue/AppStrings.h"

namespace {

QString Text(const char* key) { return AppStrings::Instance().Text(QString::fromLatin1(key)); }

// "old → new", or the value alone when it stays.
QString Change(const std::string& before, const std::optional<std::string>& after) {
  const QString old = QString::fromStdString(before);
  if (!after || *after == before) {
    return old;
  }
  return (old.isEmpty() ? QStringLiteral("\u2013") : old) + QStringLiteral(" \u2192 ") + QString::fromStdString(*after);
}

}  // namespace

QString CPlaceNamesDlg::ChoiceText(const PlaceMatch& match, const GeoPoint& position) {
  const std::string direction = CompassDirection(match.place.position, position);
  QString text = QString::fromStdString(match.place.name) + QStringLiteral(", ") +
                 QString::fromStdString(DistanceText(match.distanceKm));
  if (!direction.empty()) {
    text += QLatin1Char(' ') + QString::fromStdString(direction);
  }
  QStringList where;
  for (const std::string* part : {&match.place.admin1, &match.place.countryName, &match.place.country}) {
    if (!part->empty()) {
      where.append(QString::fromStdString(*part));
    }
  }
  return text + QStringLiteral(" (") + where.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString CPlaceNamesDlg::NoteText(int leftOut, bool haveZoneMap, bool haveZoneTable) {
  QStringList notes;
  if (leftOut > 0) {
    notes.append(FormatText(Text("places/leftOut"), {QString::number(leftOut)}));
  }
  if (!haveZoneMap) {
    notes.append(Text("places/noZoneMap"));
  } else if (!haveZoneTable) {
    notes.append(Text("places/noZoneTable"));
  }
  return notes.join(QLatin1Char('\n'));
}

QString CPlaceNamesDlg::ReviewText(const PlaceProposal& proposal) {
  QString reason;
  switch (proposal.reviewKind) {
    case PlaceReview::None:
      return {};
    case PlaceReview::FarFromPlace:
      reason =
          FormatText(Text("places/reviewFar"), {QString::fromStdString(DistanceText(proposal.nearest.distanceKm))});
      break;
    case PlaceReview::ZoneWithoutCountry:
      reason = FormatText(Text("places/reviewZoneAlone"), {QString::fromStdString(proposal.zone)});
      break;
    case PlaceReview::ZoneOfOtherCountry:
      reason = FormatText(Text("places/reviewOtherCountry"),
                          {QString::fromStdString(proposal.nearest.place.country),
                           QString::fromStdString(proposal.zone), QString::fromStdString(proposal.reviewZoneCountry)});
      break;
  }
  return FormatText(Text("places/check"), {reason});
}

XpLocationWrite::Names CPlaceNamesDlg::NamesOf(const PlaceMatch& match) {
  const Place& place = match.place;
  return {place.name, place.admin1, place.countryName, place.country, CountryAlpha3(place.country), std::nullopt};
}

CPlaceNamesDlg::CPlaceNamesDlg(std::vector<PlaceNamingRow> rows, const QString& note, QWidget* parent)
    : QDialog(parent), m_rows(std::move(rows)) {
  setObjectName(QStringLiteral("Terravue_PlaceNamesDlg"));
  setWindowTitle(Text("places/title"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(Text("places/intro"), this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  if (!note.isEmpty()) {
    auto* left = new QLabel(note, this);
    left->setObjectName(QStringLiteral("placesNote"));
    left->setWordWrap(true);
    layout->addWidget(left);
  }

  m_table = new QTableWidget(static_cast<int>(m_rows.size()), kColumns, this);
  m_table->setObjectName(QStringLiteral("placesTable"));
  m_table->setHorizontalHeaderLabels({Text("places/photo"), Text("places/place"), Text("places/city"),
                                      Text("places/state"), Text("places/country"), Text("places/code"),
                                      Text("places/sublocation"), Text("places/review")});
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->verticalHeader()->hide();
  for (std::size_t i = 0; i < m_rows.size(); ++i) {
    const PlaceNamingRow& row = m_rows[i];
    const int r = static_cast<int>(i);
    m_table->setItem(r, kPhoto, new QTableWidgetItem(row.fileName));
    auto* box = new QComboBox(m_table);
    box->setObjectName(QStringLiteral("placeChoice%1").arg(r));
    box->addItem(ChoiceText(row.proposal.nearest, row.position));
    for (const PlaceMatch& match : row.proposal.alternatives) {
      box->addItem(ChoiceText(match, row.position));
    }
    box->addItem(Text("places/leave"));
    m_table->setCellWidget(r, kPlace, box);
    m_choices.push_back(box);
    connect(box, &QComboBox::currentIndexChanged, this, [this, i] { ShowPreview(i); });
    auto* review = new QTableWidgetItem(ReviewText(row.proposal));
    m_table->setItem(r, kReview, review);
    ShowPreview(i);
  }
  m_table->resizeColumnsToContents();
  layout->addWidget(m_table);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  m_name = new QPushButton(Text("places/name"), this);
  m_name->setObjectName(QStringLiteral("nameButton"));
  m_name->setDefault(true);
  m_cancel = new QPushButton(Text("places/cancel"), this);
  m_cancel->setObjectName(QStringLiteral("cancelButton"));
  buttons->addWidget(m_name);
  buttons->addWidget(m_cancel);
  layout->addLayout(buttons);
  connect(m_name, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  resize(900, 320);
}

QComboBox* CPlaceNamesDlg::ChoiceBox(std::size_t row) const {
  return row < m_choices.size() ? m_choices[row] : nullptr;
}

std::optional<XpLocationWrite::Names> CPlaceNamesDlg::Names(std::size_t row) const {
  if (row >= m_rows.size()) {
    return std::nullopt;
  }
  const int choice = m_choices[row]->currentIndex();
  const PlaceProposal& proposal = m_rows[row].proposal;
  if (choice == 0) {
    return NamesOf(proposal.nearest);
  }
  if (choice > 0 && static_cast<std::size_t>(choice) <= proposal.alternatives.size()) {
    return NamesOf(proposal.alternatives[static_cast<std::size_t>(choice) - 1]);
  }
  return std::nullopt;
}

void CPlaceNamesDlg::ShowPreview(std::size_t row) {
  const std::optional<XpLocationWrite::Names> names = Names(row);
  // What the photo holds: its XMP values, else those of its IIM block.
  const XpLocationWrite::Current& current = m_rows[row].current;
  XpXmpLocation::Location old = current.xmp.legacy;
  if (current.hasIim) {
    for (auto [mine, iim] : {std::pair{&old.city, &current.iim.city}, std::pair{&old.state, &current.iim.state},
                             std::pair{&old.country, &current.iim.country}}) {
      if (mine->empty()) {
        *mine = *iim;
      }
    }
  }
  const auto put = [&](int column, const std::string& before, const std::string* after) {
    std::optional<std::string> value;
    if (names && after != nullptr) {
      value = *after;
    }
    auto* item = new QTableWidgetItem(Change(before, value));
    m_table->setItem(static_cast<int>(row), column, item);
  };
  put(kCity, old.city, names ? &names->city : nullptr);
  put(kState, old.state, names ? &names->state : nullptr);
  put(kCountry, old.country, names ? &names->country : nullptr);
  put(kCode, old.countryCode, names ? &names->countryCode : nullptr);
  put(kSublocation, old.sublocation, names && names->sublocation ? &*names->sublocation : nullptr);
}

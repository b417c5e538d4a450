#include "Applications/Terravue/DropSorting.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/mapdata/PictureSources.h"

namespace {

// Whether `folder` is `root` or lies below it.
bool IsAtOrBelow(const QString& folder, const QString& root) {
  return !root.isEmpty() && (folder == root || folder.startsWith(root + QLatin1Char('/')));
}

bool HasJpegName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("jpe");
}

enum class Verdict { Accepted, NotJpeg, OnMap, OwnFolder };

class DropSorter {
 public:
  DropSorter(const DropRules& rules, qsizetype limit)
      : m_rules(rules),
        m_limit(limit),
        m_work(QDir::cleanPath(rules.workFolder)),
        m_workResolved(QFileInfo(rules.workFolder).canonicalFilePath()),
        m_program(QDir::cleanPath(rules.programFolder)),
        m_programResolved(QFileInfo(rules.programFolder).canonicalFilePath()) {}

  Verdict Judge(const QString& path) const {
    const QFileInfo info(path);
    // JPEG stills by the classifier, and the photos of the other formats the
    // list reads, by their content.
    if (path.isEmpty() || !info.isFile() || !m_rules.fileType ||
        (m_rules.fileType(path) != kJpegStillFileType && !IsOtherFormatPicture(path.toStdString()))) {
      return Verdict::NotJpeg;
    }
    if (m_rules.isOnMap && m_rules.isOnMap(path)) {
      return Verdict::OnMap;
    }
    const QString folder = QDir::cleanPath(info.absolutePath());
    const QString folderResolved = info.canonicalPath();
    if (IsAtOrBelow(folder, m_work) || IsAtOrBelow(folderResolved, m_workResolved)) {
      return Verdict::OwnFolder;
    }
    if ((!m_program.isEmpty() && folder == m_program) ||
        (!m_programResolved.isEmpty() && folderResolved == m_programResolved)) {
      return Verdict::OwnFolder;
    }
    return Verdict::Accepted;
  }

  // Takes one photo that passed, or counts it when the drop is full.
  void Take(const QString& path) {
    if (m_out.accepted.size() >= m_limit) {
      ++m_out.overLimit;
      return;
    }
    m_out.accepted.append(path);
  }

  void AddFile(const QString& path) {
    switch (Judge(path)) {
      case Verdict::Accepted:
        Take(path);
        break;
      case Verdict::NotJpeg:
        ++m_out.notJpeg;
        break;
      case Verdict::OnMap:
        ++m_out.onMap;
        break;
      case Verdict::OwnFolder:
        ++m_out.ownFolder;
        break;
    }
  }

  void AddFolder(const QString& folder) {
    // Name order, so that the photos of one folder come in a steady order.
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      files.append(it.next());
    }
    std::sort(files.begin(), files.end());
    int photos = 0;
    for (const QString& file : files) {
      if (m_out.accepted.size() >= m_limit) {
        // A full drop only counts the rest, by name: reading every file of a
        // large tree would hold up the window for nothing.
        if (HasJpegName(file)) {
          ++photos;
          ++m_out.overLimit;
        }
        continue;
      }
      switch (Judge(file)) {
        case Verdict::Accepted:
          ++photos;
          Take(file);
          break;
        case Verdict::OnMap:
          ++photos;
          ++m_out.onMap;
          break;
        case Verdict::OwnFolder:
          ++photos;
          ++m_out.ownFolder;
          break;
        case Verdict::NotJpeg:
          // Other files in a dropped folder were not asked for one by one.
          break;
      }
    }
    if (photos == 0) {
      ++m_out.emptyFolders;
    }
  }

  DropOutcome Result() { return std::move(m_out); }

 private:
  const DropRules& m_rules;
  qsizetype m_limit;
  QString m_work;
  QString m_workResolved;
  QString m_program;
  QString m_programResolved;
  DropOutcome m_out;
};

}  // namespace

DropOutcome SortDrops(const QStringList& paths, const DropRules& rules, qsizetype limit) {
  DropSorter sorter(rules, limit);
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (!path.isEmpty() && info.isDir()) {
      sorter.AddFolder(path);
    } else {
      sorter.AddFile(path);
    }
  }
  return sorter.Result();
}

QString DropNoticeText(const DropOutcome& outcome) {
  if (outcome.NotAdded() == 0) {
    return {};
  }
  const AppStrings& strings = AppStrings::Instance();
  QStringList reasons;
  const auto add = [&reasons, &strings](int count, const char* key) {
    if (count > 0) {
      reasons.append(FormatText(strings.Text(QString::fromLatin1(key)), {QString::number(count)}));
    }
  };
  add(outcome.notJpeg, "drop/notJpeg");
  add(outcome.onMap, "drop/onMap");
  add(outcome.ownFolder, "drop/ownFolder");
  add(outcome.emptyFolders, "drop/emptyFolder");
  add(outcome.overLimit, "drop/overLimit");
  return FormatText(strings.Text(QStringLiteral("drop/notAdded")),
                    {QString::number(outcome.NotAdded()), reasons.join(QLatin1Char('\n'))});
}

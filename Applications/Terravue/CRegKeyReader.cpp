#include "Applications/Terravue/CRegKeyReader.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <limits>

#include "Applications/Terravue/AppSettings.h"

namespace {

constexpr const char* kMachineFile = "/Ardo Corporation/Pictavo.ini";

bool ReadNumberValue(const QVariant& value, int* out) {
  if (!value.isValid() || value.typeId() == QMetaType::QStringList) {
    return false;
  }
  bool ok = false;
  const qlonglong number = value.toString().trimmed().toLongLong(&ok, 0);
  if (!ok || number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
  return true;
}

}  // namespace

CRegKeyReader::CRegKeyReader(const QString& keyPath, Root root) : m_keyPath(keyPath) {
  if (root == Root::LocalMachine) {
    OpenReadOnly(MachineIniPath());
    return;
  }
  m_settings = std::make_unique<QSettings>(AppSettings::UserIniPath(), QSettings::IniFormat);
  m_settings->setFallbacksEnabled(false);
  m_open = m_settings->status() == QSettings::NoError;
}

CRegKeyReader::CRegKeyReader(const QString& keyPath, const QString& iniPath) : m_keyPath(keyPath) {
  OpenReadOnly(iniPath);
}

void CRegKeyReader::OpenReadOnly(const QString& iniPath) {
  const QFileInfo info(iniPath);
  if (!info.isFile() || !info.isReadable()) {
    return;
  }
  m_settings = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
  m_settings->setFallbacksEnabled(false);
  // An existing key is one that holds at least one value or subkey.
  m_settings->beginGroup(m_keyPath);
  m_open = m_settings->status() == QSettings::NoError && !m_settings->allKeys().isEmpty();
  m_settings->endGroup();
}

CRegKeyReader::~CRegKeyReader() = default;

QString CRegKeyReader::MachineIniPath() {
  QStringList folders;
  for (const QString& folder : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
    // Relative entries are invalid by the base-directory rules.
    if (QDir::isAbsolutePath(folder)) {
      folders.append(folder);
    }
  }
  if (folders.isEmpty()) {
    folders.append(QStringLiteral("/etc/xdg"));
  }
  for (const QString& folder : folders) {
    const QString path = folder + QLatin1String(kMachineFile);
    if (QFileInfo(path).isFile()) {
      return path;
    }
  }
  return folders.front() + QLatin1String(kMachineFile);
}

int CRegKeyReader::ReadNumber(const QString& name, int defaultValue) const {
  if (!m_open) {
    return defaultValue;
  }
  int number = 0;
  return ReadNumberValue(m_settings->value(m_keyPath + QLatin1Char('/') + name), &number) ? number : defaultValue;
}

QString CRegKeyReader::ReadText(const QString& name, const QString& defaultValue) const {
  if (!m_open) {
    return defaultValue;
  }
  const QVariant value = m_settings->value(m_keyPath + QLatin1Char('/') + name);
  if (!value.isValid()) {
    return defaultValue;
  }
  // The INI reader splits an unquoted text at its commas; put it back together.
  const QString text =
      value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
  return text.size() > kMaxTextLength ? defaultValue : text;
}

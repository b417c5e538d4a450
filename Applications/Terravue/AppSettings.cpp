#include "Applications/Terravue/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <array>
#include <limits>

namespace {

// Every per-user value of the program. "x" and "y" default to a centred window,
// which depends on the screen, so their callers give the default themselves.
constexpr std::array kUserSettings = {
    UserSettingSpec{"x", QMetaType::Int, 0, nullptr},
    UserSettingSpec{"y", QMetaType::Int, 0, nullptr},
    UserSettingSpec{"cx", QMetaType::Int, 796, nullptr},
    UserSettingSpec{"cy", QMetaType::Int, 596, nullptr},
    UserSettingSpec{"zoom", QMetaType::QString, 0, "2"},
    UserSettingSpec{"latitude", QMetaType::QString, 0, "N:35:37:32.828"},
    UserSettingSpec{"longitude", QMetaType::QString, 0, "E:139:44:31.338"},
    UserSettingSpec{"initialize", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"disp_once", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"howto_nopicture", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"warn_over20", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"warn_nolocation", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"warn_hasnolocation", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"error_maxalbum", QMetaType::Int, 1, nullptr},
    UserSettingSpec{"warn_noardo", QMetaType::Int, 1, nullptr},
    // 0: "Forget position" on the map page no longer asks first.
    UserSettingSpec{"confirm_forget", QMetaType::Int, 1, nullptr},
    // 1: a saved photo keeps its file modification time (for sorting by file date).
    UserSettingSpec{"preserve_mtime", QMetaType::Int, 0, nullptr},
    // 1: a JPEG that records no time zone and that a track placed, its clock read in the zone
    // found from its position, gets that zone as its OffsetTimeOriginal with the position.
    UserSettingSpec{"write_offset_time", QMetaType::Int, 0, nullptr},
    // 1: DNG, CR2, NEF, PEF and ORF photos get their position in the file
    // (append-only) instead of an XMP sidecar; their makers' software may
    // refuse changed raw files, so this is off by default.
    UserSettingSpec{"raw_in_file", QMetaType::Int, 0, nullptr},
    // 0: a JPEG and a raw file beside it with its base name are two pictures,
    // each written on its own, instead of one picture written to both.
    UserSettingSpec{"pair_raw_jpeg", QMetaType::Int, 1, nullptr},
    // The most the map's tile cache may hold on disk, in megabytes.
    UserSettingSpec{"web_cache_mb", QMetaType::Int, 500, nullptr},
    // An MBTiles file whose tiles the map offers first, for areas without network.
    UserSettingSpec{"tile_file", QMetaType::QString, 0, ""},
    // The track panel at the window's side: its width in pixels (0: as wide as it needs) and
    // whether it was open when the program last closed.
    UserSettingSpec{"track_width", QMetaType::Int, 0, nullptr},
    UserSettingSpec{"track_shown", QMetaType::Int, 0, nullptr},
};

// Numbers are 32-bit values; the INI file holds them as text. Text that does
// not read as a 32-bit number (signed, or unsigned and then wrapped) is treated
// as missing.
bool ToNumber(const QVariant& value, int* out) {
  if (!value.isValid()) {
    return false;
  }
  const QString text = value.toString().trimmed();
  bool ok = false;
  const qlonglong number = text.toLongLong(&ok, 0);
  if (!ok || number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
  return true;
}

}  // namespace

AppSettings::AppSettings() : AppSettings(UserIniPath()) {}

AppSettings::AppSettings(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {
  m_settings->setFallbacksEnabled(false);
}

AppSettings::~AppSettings() = default;

QString AppSettings::UserIniPath() {
  QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
  // A relative XDG path is invalid by the base-directory rules and ignored.
  if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome)) {
    configHome = QDir::homePath() + QStringLiteral("/.config");
  }
  return configHome + QStringLiteral("/Ardo Corporation/Pictavo.ini");
}

std::span<const UserSettingSpec> AppSettings::UserSettingTable() { return kUserSettings; }

const UserSettingSpec* AppSettings::Find(const QString& name) {
  for (const UserSettingSpec& setting : kUserSettings) {
    if (name == QLatin1String(setting.name)) {
      return &setting;
    }
  }
  return nullptr;
}

QVariant AppSettings::Value(const QString& name) const {
  return m_settings->value(QLatin1String(kGroup) + QLatin1Char('/') + name);
}

int AppSettings::ReadNumber(const QString& name) const {
  const UserSettingSpec* setting = Find(name);
  return ReadNumber(name, setting != nullptr ? setting->numberDefault : 0);
}

int AppSettings::ReadNumber(const QString& name, int fallback) const {
  int number = 0;
  return ToNumber(Value(name), &number) ? number : fallback;
}

QString AppSettings::ReadText(const QString& name) const {
  const QVariant value = Value(name);
  if (value.isValid()) {
    // An unquoted text with commas comes back from the INI reader as a list.
    if (value.typeId() == QMetaType::QStringList) {
      return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
  }
  const UserSettingSpec* setting = Find(name);
  return setting != nullptr && setting->textDefault != nullptr ? QString::fromUtf8(setting->textDefault) : QString();
}

void AppSettings::WriteNumber(const QString& name, int value) {
  m_settings->setValue(QLatin1String(kGroup) + QLatin1Char('/') + name, value);
}

void AppSettings::WriteText(const QString& name, const QString& value) {
  m_settings->setValue(QLatin1String(kGroup) + QLatin1Char('/') + name, value);
}

void AppSettings::Sync() { m_settings->sync(); }

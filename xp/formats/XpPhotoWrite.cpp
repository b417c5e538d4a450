// One way to write a position for every read format: into the file, or into
// the photo's XMP sidecars.
#include "xp/formats/XpPhotoWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <utility>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpReplaceFile.h"
#include "xp/formats/XpInFileWrite.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpPhotoReplace.h"
#include "xp/image/XpXmpGps.h"
#include "xp/image/XpXmpLocation.h"
#include "xp/text/XpAsciiCase.h"

namespace XpPhotoWrite {

namespace {

constexpr std::string_view kPhotoshopNamespace = "http://ns.adobe.com/photoshop/1.0/";

// Plain TIFF structures named like a camera raw file: vendor software reads
// them as raw files, so they are never changed.
constexpr std::string_view kRawExtensions[] = {"dng", "cr2", "nef", "nrw", "pef", "srw", "arw", "iiq", "3fr",
                                               "erf", "mef", "mos", "kdc", "dcr", "sr2", "srf", "rwl", "raw"};

using XpPhotoMetadata::PathParts;
using XpPhotoMetadata::SplitPath;

bool IsRawExtension(const std::string& extension) {
  const std::string lower = XpAsciiLowered(extension);
  return std::find(std::begin(kRawExtensions), std::end(kRawExtensions), lower) != std::end(kRawExtensions);
}

// ---- What a record writes ----

bool UpdateOf(const XpGPSRecord& record, XpXmpGps::Update* update) {
  if (!XpExifRewrite::XmpUpdateFromRecord(record, update)) {
    return false;
  }
  update->keepPadding = true;
  return true;
}

// ---- One sidecar's replacement ----

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  [[nodiscard]] bool Same(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

Stamp StampOf(const struct stat& info) { return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim}; }

XpStatus CheckFolderNotProtected(const std::string& file) {
  const PathParts parts = SplitPath(file);
  const std::string folder = parts.folder.empty() ? std::string(".") : parts.folder;
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return XpStatusFromErrnoForPath(errno, folder);
  }
  return XpPhotoReplace::CheckNotProtected(folder, info);
}

// What one sidecar becomes.
struct Planned {
  std::string target;  // the file replaced (a symbolic link resolved), or created
  bool create = false;
  struct stat info {};
  std::string before;  // the old bytes (for a new file: the template the position was set in)
  std::string after;
  XpXmpGps::SetOutcome set;
};

// The new sidecar's text before its position: the extension it belongs to.
std::string NewSidecarTemplate(const std::string& extension) {
  std::string escaped;
  for (const char c : extension) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\"\n"
         "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
         "   photoshop:SidecarForExtension=\"" +
         escaped +
         "\"/>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n";
}

XpStatus ReadSidecar(const std::string& path, Planned* plan) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (resolved == nullptr) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  plan->target = resolved.get();
  if (::stat(plan->target.c_str(), &plan->info) != 0) {
    return XpStatusFromErrnoForPath(errno, plan->target);
  }
  if (!S_ISREG(plan->info.st_mode)) {
    return XpStatus::AccessDenied;
  }
  if (auto st = XpPhotoReplace::CheckNotProtected(plan->target, plan->info); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = XpReadWholeFile(plan->target, XpXmpGps::kMaxPacketSize, &plan->before, XpStatus::XmpInvalid);
      st != XpStatus::Ok) {
    return st;
  }
  // The stamp that goes with the bytes read: a change in between is seen later.
  struct stat again {};
  if (::stat(plan->target.c_str(), &again) != 0 || !StampOf(again).Same(StampOf(plan->info))) {
    return XpStatus::ChangedOnDisk;
  }
  return XpStatus::Ok;
}

// The new bytes hold the old ones but for the GPS properties (and the block
// added for them): the same text once every GPS property is taken out of both.
bool KeepsEverythingElse(const Planned& plan, std::span<const std::uint8_t> written) {
  XpXmpGps::Edit oldStripped;
  XpXmpGps::Edit newStripped;
  if (XpXmpGps::RemoveGps(Bytes(plan.before), &oldStripped, /*keepPadding=*/true) != XpStatus::Ok ||
      XpXmpGps::RemoveGps(written, &newStripped, /*keepPadding=*/true) != XpStatus::Ok) {
    return false;
  }
  const std::vector<std::uint8_t>& a = oldStripped.packet;
  const std::vector<std::uint8_t>& b = newStripped.packet;
  const std::string& block = plan.set.insertedWithoutGps;
  if (block.empty()) {
    return a == b;
  }
  if (b.size() != a.size() + block.size()) {
    return false;
  }
  const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin());
  const auto at = static_cast<std::size_t>(mismatch.first - a.begin());
  return std::equal(block.begin(), block.end(), b.begin() + static_cast<std::ptrdiff_t>(at)) &&
         std::equal(a.begin() + static_cast<std::ptrdiff_t>(at), a.end(),
                    b.begin() + static_cast<std::ptrdiff_t>(at + block.size()));
}

// What a sidecar write does to each sidecar: the new text made from the old
// one, and what the written text must show besides holding exactly that text.
struct SidecarChange {
  bool createsSidecar = true;  // a photo without a sidecar gets one
  std::function<XpStatus(Planned&, XpXmpGps::Edit*)> edit;
  std::function<bool(const Planned&, std::span<const std::uint8_t>)> check;
};

// The written sidecar read back: its bytes are the planned ones, the change's
// own check holds, and a created one names the photo's extension.
XpStatus CheckWritten(const Planned& plan, const SidecarChange& change, const std::string& path,
                      const std::string& extension) {
  std::string written;
  if (XpReadWholeFile(path, XpXmpGps::kMaxPacketSize, &written, XpStatus::SidecarCheckFailed) != XpStatus::Ok ||
      written != plan.after || !change.check(plan, Bytes(written))) {
    return XpStatus::SidecarCheckFailed;
  }
  if (plan.create) {
    std::optional<std::string> forExtension;
    if (XpXmpGps::ReadProperty(Bytes(written), kPhotoshopNamespace, "SidecarForExtension", &forExtension) !=
            XpStatus::Ok ||
        forExtension != extension) {
      return XpStatus::SidecarCheckFailed;
    }
  }
  return XpStatus::Ok;
}

// A position write (with `update`) or removal (without): the written sidecar
// holds the position written (or none), and everything else of the old one.
SidecarChange PositionChange(const std::optional<XpXmpGps::Update>& update) {
  SidecarChange change;
  change.createsSidecar = update.has_value();
  change.edit = [update](Planned& plan, XpXmpGps::Edit* edit) {
    if (update) {
      const XpStatus st = XpXmpGps::SetGps(Bytes(plan.before), *update, /*version=*/true, edit, &plan.set);
      return st == XpStatus::InvalidArgument ? XpStatus::BadCoordinate : st;
    }
    return XpXmpGps::RemoveGps(Bytes(plan.before), edit, /*keepPadding=*/true);
  };
  change.check = [update](const Planned& plan, std::span<const std::uint8_t> written) {
    XpXmpGps::Position position;
    const XpStatus read = XpXmpGps::ReadGps(written, &position);
    if (update) {
      constexpr double kDegrees = 2e-8;  // the text keeps 1e-8 of a minute
      constexpr double kMetres = 0.0015;
      if (read != XpStatus::Ok || std::fabs(position.latitude - update->latitude) > kDegrees ||
          std::fabs(position.longitude - update->longitude) > kDegrees ||
          (update->altitude && (!position.altitude || std::fabs(*position.altitude - *update->altitude) > kMetres)) ||
          (update->timeStamp && position.timeStamp != update->timeStamp)) {
        return false;
      }
    } else if (read != XpStatus::XmpNoPosition) {
      return false;
    }
    return KeepsEverythingElse(plan, written);
  };
  return change;
}

// Place names: the written sidecar reads as the names written, and its
// position (or the lack of one) reads as it did before.
SidecarChange NamesChange(const XpXmpLocation::Update& update) {
  SidecarChange change;
  change.edit = [update](Planned& plan, XpXmpGps::Edit* edit) {
    XpXmpLocation::Edit set;
    if (auto st = XpXmpLocation::SetLocation(Bytes(plan.before), update, &set); st != XpStatus::Ok) {
      return st;
    }
    edit->packet = std::move(set.packet);
    return XpStatus::Ok;
  };
  change.check = [update](const Planned& plan, std::span<const std::uint8_t> written) {
    XpXmpLocation::Reading before;
    XpXmpLocation::Reading after;
    if (XpXmpLocation::ReadLocation(Bytes(plan.before), &before) != XpStatus::Ok ||
        XpXmpLocation::ReadLocation(written, &after) != XpStatus::Ok ||
        !(after == XpXmpLocation::Expected(before, update))) {
      return false;
    }
    XpXmpGps::Position old;
    XpXmpGps::Position now;
    const XpStatus oldRead = XpXmpGps::ReadGps(Bytes(plan.before), &old);
    const XpStatus nowRead = XpXmpGps::ReadGps(written, &now);
    return oldRead == nowRead &&
           (oldRead != XpStatus::Ok || (old.latitude == now.latitude && old.longitude == now.longitude &&
                                        old.altitude == now.altitude && old.timeStamp == now.timeStamp));
  };
  return change;
}

// One planned sidecar on its way into place: the checked new file, and for an
// existing sidecar a kept copy of its old bytes that puts it back when a later
// sidecar of the same write fails.
struct Staged {
  const Planned* plan = nullptr;
  XpReplacementFile temp;
  XpReplacementFile kept;
  bool renamed = false;
};

XpStatus WriteFlushed(XpReplacementFile& file, const std::string& target, unsigned mode, const std::string& bytes,
                      const timespec* times) {
  if (auto st = file.Create(target, mode); st != XpStatus::Ok) {
    return st;
  }
  if (::fchmod(file.Fd(), static_cast<mode_t>(mode)) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (auto st = XpWriteFully(file.Fd(), bytes); st != XpStatus::Ok) {
    return st;
  }
  if (times != nullptr && ::futimens(file.Fd(), times) != 0) {
    return XpStatusFromErrno(errno);
  }
  return file.Flush();
}

// Writes and checks the new sidecar in its temporary file, and keeps a copy of
// the old one; nothing is renamed yet.
XpStatus Stage(Staged& staged, const SidecarChange& change, const std::string& extension,
               const XpExifRewrite::Hooks& hooks) {
  const Planned& plan = *staged.plan;
  XpReplacementFile& temp = staged.temp;
  const unsigned mode = plan.create ? 0666U : static_cast<unsigned>(plan.info.st_mode & 07777);
  if (auto st = temp.Create(plan.target, mode); st != XpStatus::Ok) {
    return st;
  }
  if (!plan.create && ::fchmod(temp.Fd(), static_cast<mode_t>(mode)) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (auto st = XpWriteFully(temp.Fd(), plan.after); st != XpStatus::Ok) {
    return st;
  }
  if (hooks.beforeCommit) {
    if (auto st = hooks.beforeCommit(temp.Path()); st != XpStatus::Ok) {
      return st;
    }
  }
  const timespec oldTimes[2] = {plan.info.st_atim, plan.info.st_mtim};
  if (!plan.create && (hooks.preserveModificationTime || XpExifRewrite::PreservesModificationTimeByDefault())) {
    if (::futimens(temp.Fd(), oldTimes) != 0) {
      return XpStatusFromErrno(errno);
    }
  }
  if (auto st = temp.Flush(); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = CheckWritten(plan, change, temp.Path(), extension); st != XpStatus::Ok) {
    return st;
  }
  if (plan.create) {
    return XpStatus::Ok;
  }
  return WriteFlushed(staged.kept, plan.target, mode, plan.before, oldTimes);
}

// Someone else's write since the sidecar was read would be lost by the rename.
bool StillAsRead(const Planned& plan) {
  if (plan.create) {
    struct stat info {};
    return ::lstat(plan.target.c_str(), &info) != 0 && errno == ENOENT;
  }
  struct stat now {};
  std::string current;
  return ::stat(plan.target.c_str(), &now) == 0 && StampOf(now).Same(StampOf(plan.info)) &&
         XpReadWholeFile(plan.target, XpXmpGps::kMaxPacketSize, &current, XpStatus::ChangedOnDisk) == XpStatus::Ok &&
         current == plan.before;
}

// Renames one checked sidecar into place.
XpStatus Commit(Staged& staged, const XpExifRewrite::Hooks& hooks) {
  if (hooks.beforeRename) {
    if (auto st = hooks.beforeRename(staged.plan->target); st != XpStatus::Ok) {
      return st;
    }
  }
  if (!StillAsRead(*staged.plan)) {
    return XpStatus::ChangedOnDisk;
  }
  if (staged.plan->create) {
    const XpStatus st = staged.temp.CommitNew();
    return st == XpStatus::AlreadyExists ? XpStatus::ChangedOnDisk : st;
  }
  return staged.temp.Commit();
}

// Puts back a sidecar this write already renamed into place: the kept copy of
// its old bytes, or for a created one its removal, while it still holds what
// was written.
void PutBack(Staged& staged) {
  const Planned& plan = *staged.plan;
  std::string current;
  if (XpReadWholeFile(plan.target, XpXmpGps::kMaxPacketSize, &current) != XpStatus::Ok || current != plan.after) {
    return;
  }
  if (plan.create) {
    if (::unlink(plan.target.c_str()) == 0) {
      XpSyncFolder(SplitPath(plan.target).folder.empty() ? std::string(".") : SplitPath(plan.target).folder);
    }
    return;
  }
  (void)staged.kept.Commit();
}

// The photo's own position, as its metadata gives it without a sidecar.
bool PhotoHoldsPosition(const std::string& path) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return false;
  }
  XpPhotoMetadata::Reading reading;
  (void)XpPhotoMetadata::Read(file, &reading);
  return reading.source == XpPhotoMetadata::PositionSource::File;
}

// Makes `change` in the sidecars of `path`, all of them or none. `*changed`
// (when given) tells whether any sidecar was replaced or created.
XpStatus WriteSidecars(const std::string& path, const SidecarChange& change, const Where& where,
                       const XpExifRewrite::Hooks& hooks, std::string* failed, bool* changed = nullptr) {
  const PathParts parts = SplitPath(path);
  std::vector<Planned> plans;
  if (where.createsSidecar) {
    if (!change.createsSidecar) {
      return XpStatus::Ok;
    }
    if (auto st = CheckFolderNotProtected(where.sidecars.front()); st != XpStatus::Ok) {
      *failed = where.sidecars.front();
      return st;
    }
    Planned plan;
    plan.target = where.sidecars.front();
    plan.create = true;
    plan.before = NewSidecarTemplate(parts.extension);
    plans.push_back(std::move(plan));
  } else {
    for (const std::string& sidecar : where.sidecars) {
      Planned plan;
      if (auto st = ReadSidecar(sidecar, &plan); st != XpStatus::Ok) {
        *failed = sidecar;
        return st;
      }
      plans.push_back(std::move(plan));
    }
  }
  // Every edit is made and found sound before any sidecar is replaced.
  for (Planned& plan : plans) {
    XpXmpGps::Edit edit;
    if (auto st = change.edit(plan, &edit); st != XpStatus::Ok) {
      *failed = plan.target;
      return st;
    }
    plan.after.assign(edit.packet.begin(), edit.packet.end());
  }
  // Every new sidecar is written and checked, and every old one kept, before
  // the first rename; a rename that fails puts back those renamed before it,
  // so that the photo's sidecars never disagree.
  std::vector<std::unique_ptr<Staged>> staged;
  for (const Planned& plan : plans) {
    if (!plan.create && plan.after == plan.before) {
      continue;
    }
    staged.push_back(std::make_unique<Staged>());
    staged.back()->plan = &plan;
    if (auto st = Stage(*staged.back(), change, parts.extension, hooks); st != XpStatus::Ok) {
      *failed = plan.target;
      return st;
    }
  }
  for (const auto& one : staged) {
    if (!StillAsRead(*one->plan)) {
      *failed = one->plan->target;
      return XpStatus::ChangedOnDisk;
    }
  }
  for (const auto& one : staged) {
    if (auto st = Commit(*one, hooks); st != XpStatus::Ok) {
      *failed = one->plan->target;
      for (auto back = staged.rbegin(); back != staged.rend(); ++back) {
        if ((*back)->renamed) {
          PutBack(**back);
        }
      }
      return st;
    }
    one->renamed = true;
  }
  if (changed != nullptr) {
    *changed = !staged.empty();
  }
  return XpStatus::Ok;
}

}  // namespace

std::string_view DestinationName(Destination destination) {
  switch (destination) {
    case Destination::InFile:
      return "file";
    case Destination::Sidecar:
      return "sidecar";
    case Destination::NotWritable:
      break;
  }
  return "none";
}

std::vector<std::string> OwnSidecars(const std::string& path) { return XpPhotoMetadata::OwnSidecars(path); }

namespace {

std::atomic<bool> g_rawInFile{false};

// Whether the TIFF structure at the start of `file` has magic 42 or an
// Olympus raw file's, the ones the append-only TIFF writer edits.
[[nodiscard]] bool HasWritableTiffMagic(XpFile& file) {
  std::array<std::uint8_t, 4> prefix{};
  std::uint64_t got = 0;
  if (file.Seek(0, XpAbstractFile::kBegin) != XpStatus::Ok ||
      file.Read(prefix.data(), prefix.size(), &got) != XpStatus::Ok || got != prefix.size()) {
    return false;
  }
  return XpInFileWrite::Sniff(prefix) == XpInFileWrite::Container::Tiff && prefix[2] != 43 && prefix[3] != 43;
}

}  // namespace

void SetPolicy(const Policy& policy) { g_rawInFile.store(policy.rawInFile); }

Policy GetPolicy() {
  Policy policy;
  policy.rawInFile = g_rawInFile.load();
  return policy;
}

bool IsRawWrittenInFile(XpPhotoFormat format) {
  switch (format) {
    case XpPhotoFormat::Dng:
    case XpPhotoFormat::Cr2:
    case XpPhotoFormat::Nef:
    case XpPhotoFormat::Pef:
    case XpPhotoFormat::Orf:
      return GetPolicy().rawInFile;
    default:
      return false;
  }
}

Where WhereWritten(const std::string& path) {
  Where where;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    where.status = XpStatusFromErrnoForPath(errno, path);
    return where;
  }
  if (!S_ISREG(info.st_mode)) {
    where.status = XpStatus::PhotoFormatUnknown;
    return where;
  }
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    where.status = st;
    return where;
  }
  XpPhotoFormat format = XpPhotoMetadata::SniffFile(path);
  if (format == XpPhotoFormat::Tiff) {
    // Magic 42 alone does not tell a DNG or a raw kind from a TIFF.
    XpPhotoMetadata::Reading reading;
    (void)XpPhotoMetadata::Read(file, &reading);
    format = reading.format == XpPhotoFormat::Dng ? XpPhotoFormat::Dng : format;
    if (format == XpPhotoFormat::Tiff && IsRawExtension(SplitPath(path).extension)) {
      format = XpPhotoFormat::Dng;
      const std::string lower = XpAsciiLowered(SplitPath(path).extension);
      for (const auto& [extension, kind] : {std::pair{"nef", XpPhotoFormat::Nef}, std::pair{"nrw", XpPhotoFormat::Nrw},
                                            std::pair{"pef", XpPhotoFormat::Pef}, std::pair{"srw", XpPhotoFormat::Srw},
                                            std::pair{"arw", XpPhotoFormat::Arw}, std::pair{"iiq", XpPhotoFormat::Iiq},
                                            std::pair{"cr2", XpPhotoFormat::Cr2}}) {
        if (lower == extension) {
          format = kind;
        }
      }
    }
  }
  where.format = format;
  switch (format) {
    case XpPhotoFormat::Unknown:
      where.status = XpStatus::PhotoFormatUnknown;
      return where;
    case XpPhotoFormat::Jpeg:
      where.destination = Destination::InFile;
      return where;
    case XpPhotoFormat::Tiff:
    case XpPhotoFormat::Png:
    case XpPhotoFormat::Webp:
      where.destination = Destination::InFile;
      return where;
    case XpPhotoFormat::Heic:
    case XpPhotoFormat::Heif:
    case XpPhotoFormat::Avif:
      // In the file when nothing else in it moves; a sidecar that already
      // belongs to the photo keeps the position (it wins when read).
      where.sidecars = OwnSidecars(path);
      if (where.sidecars.empty()) {
        where.notInFile = XpInFileWrite::HeifInFile(path);
        if (where.notInFile == XpStatus::Ok) {
          where.destination = Destination::InFile;
          return where;
        }
      } else {
        where.notInFile = XpStatus::SidecarHoldsPosition;
      }
      break;
    case XpPhotoFormat::Dng:
    case XpPhotoFormat::Cr2:
    case XpPhotoFormat::Nef:
    case XpPhotoFormat::Pef:
    case XpPhotoFormat::Orf:
      // In the file only when the user chose so; a sidecar that already
      // belongs to the photo keeps the position (it wins when read).
      if (GetPolicy().rawInFile) {
        where.sidecars = OwnSidecars(path);
        if (!where.sidecars.empty()) {
          where.notInFile = XpStatus::SidecarHoldsPosition;
        } else if (HasWritableTiffMagic(file)) {
          where.destination = Destination::InFile;
          return where;
        }
      }
      break;
    case XpPhotoFormat::Nrw:
    case XpPhotoFormat::Srw:
    case XpPhotoFormat::Arw:
    case XpPhotoFormat::Iiq:
    case XpPhotoFormat::Rw2:
    case XpPhotoFormat::Cr3:
    case XpPhotoFormat::Raf:
      break;
  }
  where.destination = Destination::Sidecar;
  if (where.notInFile == XpStatus::Ok) {
    where.sidecars = OwnSidecars(path);
  }
  if (where.sidecars.empty()) {
    where.sidecars.push_back(path + ".xmp");
    where.createsSidecar = true;
  }
  return where;
}

XpStatus ReadGPS(const std::string& path, XpGPSRecord& record) {
  if (XpPhotoMetadata::SniffFile(path) == XpPhotoFormat::Jpeg) {
    return XpExifRewrite::ReadGPS(path, record);
  }
  return XpPhotoMetadata::ReadGPS(path, record);
}

namespace {

// Changes the position of `path` where it is kept: `inFile` for a photo that
// keeps it in its own file, `inSidecars` (which names the sidecar that failed)
// for one that keeps it beside it. `whereOut` gets where it went and, after a
// failure, the file the failure is about.
template <class InFile, class InSidecars>
XpStatus ChangePosition(const std::string& path, Where* whereOut, InFile inFile, InSidecars inSidecars) {
  const Where where = WhereWritten(path);
  if (whereOut != nullptr) {
    *whereOut = where;
  }
  std::string failed;
  const XpStatus st = [&] {
    switch (where.destination) {
      case Destination::NotWritable:
        return where.status;
      case Destination::InFile:
        return inFile(where);
      case Destination::Sidecar:
        break;
    }
    return inSidecars(where, &failed);
  }();
  if (whereOut != nullptr && st != XpStatus::Ok) {
    whereOut->failed = failed.empty() ? path : failed;
  }
  return st;
}

}  // namespace

XpStatus WriteGPS(const std::string& path, const XpGPSRecord& record, const XpExifRewrite::Hooks& hooks,
                  Where* whereOut) {
  return ChangePosition(
      path, whereOut,
      [&](const Where& where) {
        return where.format == XpPhotoFormat::Jpeg ? XpExifRewrite::WriteGPS(path, record, /*replaceWhole=*/true, hooks)
                                                   : XpInFileWrite::WriteGPSWith(path, record, hooks);
      },
      [&](const Where& where, std::string* failed) {
        XpXmpGps::Update update;
        if (!UpdateOf(record, &update)) {
          return XpStatus::BadCoordinate;
        }
        return WriteSidecars(path, PositionChange(update), where, hooks, failed);
      });
}

XpStatus RemoveGPS(const std::string& path, const XpExifRewrite::Hooks& hooks, Where* whereOut) {
  return ChangePosition(
      path, whereOut,
      [&](const Where& where) {
        return where.format == XpPhotoFormat::Jpeg ? XpExifRewrite::RemoveGPS(path, hooks)
                                                   : XpInFileWrite::RemoveGPSWith(path, hooks);
      },
      [&](const Where& where, std::string* failed) {
        if (PhotoHoldsPosition(path)) {
          return XpStatus::PositionStaysInPhoto;
        }
        return WriteSidecars(path, PositionChange(std::nullopt), where, hooks, failed);
      });
}

Where WhereNamesWritten(const std::string& path) {
  Where where = WhereWritten(path);
  if (where.destination != Destination::InFile || where.format == XpPhotoFormat::Jpeg) {
    return where;
  }
  // Only a JPEG's XMP packet is edited in place: every other kind keeps its
  // names beside it, in the sidecars that belong to it.
  where.destination = Destination::Sidecar;
  where.notInFile = XpStatus::NamesInSidecar;
  where.sidecars = OwnSidecars(path);
  where.createsSidecar = where.sidecars.empty();
  if (where.createsSidecar) {
    where.sidecars.push_back(path + ".xmp");
  }
  return where;
}

XpStatus ReadNames(const std::string& path, XpLocationWrite::Current* current) {
  const Where where = WhereNamesWritten(path);
  switch (where.destination) {
    case Destination::NotWritable:
      return where.status;
    case Destination::InFile:
      return XpLocationWrite::Read(path, current);
    case Destination::Sidecar:
      break;
  }
  XpLocationWrite::Current read;
  if (!where.createsSidecar) {
    std::string bytes;
    if (auto st = XpReadWholeFile(where.sidecars.front(), XpXmpGps::kMaxPacketSize, &bytes, XpStatus::XmpInvalid);
        st != XpStatus::Ok) {
      return st;
    }
    if (auto st = XpXmpLocation::ReadLocation(Bytes(bytes), &read.xmp); st != XpStatus::Ok) {
      return st;
    }
    read.hasXmp = true;
  }
  *current = std::move(read);
  return XpStatus::Ok;
}

XpStatus WriteNames(const std::string& path, const XpLocationWrite::Names& names, const XpExifRewrite::Hooks& hooks,
                    XpLocationWrite::Outcome* outcome, Where* whereOut) {
  const Where where = WhereNamesWritten(path);
  if (whereOut != nullptr) {
    *whereOut = where;
  }
  XpLocationWrite::Outcome result;
  std::string failed;
  const XpStatus st = [&] {
    switch (where.destination) {
      case Destination::NotWritable:
        return where.status;
      case Destination::InFile:
        return XpLocationWrite::Write(path, names, hooks, &result);
      case Destination::Sidecar:
        break;
    }
    const XpXmpLocation::Update update{names.city, names.state, names.country, names.countryCode, names.sublocation};
    bool changed = false;
    const XpStatus written = WriteSidecars(path, NamesChange(update), where, hooks, &failed, &changed);
    if (written == XpStatus::Ok && changed) {
      result.written = true;
      result.xmpChanged = true;
      result.xmpAdded = where.createsSidecar;
    }
    return written;
  }();
  if (st != XpStatus::Ok) {
    result = {};
    if (whereOut != nullptr) {
      whereOut->failed = failed.empty() ? path : failed;
    }
  }
  if (outcome != nullptr) {
    *outcome = std::move(result);
  }
  return st;
}

}  // namespace XpPhotoWrite

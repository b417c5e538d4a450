#include "xp/tiff/XpTiffTagCompare.h"

#include <algorithm>
#include <cstdio>

#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace {

// Deeper than any tree the reader builds (its own limit plus a maker note).
constexpr int kMaxCompareDepth = 32;

std::string Hex(std::uint16_t tag) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", unsigned{tag});
  return text;
}

std::string Compare(const XpTiffTagIFD& before, const XpTiffTagIFD& after, const std::string& where,
                    const XpTiffTagSkip& skip, int depth) {
  if (depth > kMaxCompareDepth) {
    return where + ": nested too deeply to compare";
  }
  if (before.IsMakerNote() != after.IsMakerNote() || before.HasShortHeader() != after.HasShortHeader() ||
      before.HasPiHeader() != after.HasPiHeader()) {
    return where + ": maker-note header changed";
  }
  const auto skipped = [&](std::uint16_t tag) { return skip && skip(where, tag); };
  for (const auto& old : before.Entries()) {
    const std::uint16_t tag = old->GetTag();
    if (skipped(tag)) {
      continue;
    }
    const XpTiffTagDataBase* now = after.Find(tag);
    if (now == nullptr) {
      return where + ": lost " + Hex(tag);
    }
    if (old->IsIFD() != now->IsIFD()) {
      return where + ": " + Hex(tag) + " changed between value and directory";
    }
    if (!old->IsIFD()) {
      if (old->GetType() != now->GetType() || old->GetCount() != now->GetCount() ||
          !std::equal(old->Bytes().begin(), old->Bytes().end(), now->Bytes().begin(), now->Bytes().end())) {
        return where + ": changed " + Hex(tag);
      }
      continue;
    }
    const auto& oldDir = static_cast<const XpTiffTagDataIFD&>(*old);
    const auto& newDir = static_cast<const XpTiffTagDataIFD&>(*now);
    if (oldDir.ChildCount() != newDir.ChildCount()) {
      return where + ": " + Hex(tag) + " has " + std::to_string(newDir.ChildCount()) + " directories instead of " +
             std::to_string(oldDir.ChildCount());
    }
    for (std::size_t i = 0; i < oldDir.ChildCount(); ++i) {
      std::string inner = where + "/" + Hex(tag);
      if (oldDir.ChildCount() > 1) {
        inner += "[" + std::to_string(i) + "]";
      }
      if (std::string diff = Compare(*oldDir.GetChild(i), *newDir.GetChild(i), inner, skip, depth + 1); !diff.empty()) {
        return diff;
      }
    }
  }
  for (const auto& now : after.Entries()) {
    if (!skipped(now->GetTag()) && before.Find(now->GetTag()) == nullptr) {
      return where + ": gained " + Hex(now->GetTag());
    }
  }
  return {};
}

}  // namespace

std::string XpTiffDirectoryDifference(const XpTiffTagIFD& before, const XpTiffTagIFD& after, const std::string& where,
                                      const XpTiffTagSkip& skip) {
  return Compare(before, after, where, skip, 0);
}

std::string XpTiffTreeDifference(const XpTiffTagManager& before, const XpTiffTagManager& after, std::size_t topLevel,
                                 const XpTiffTagSkip& skip) {
  for (std::size_t i = 0; i < topLevel && i < before.IFDCount(); ++i) {
    const std::string where = "IFD" + std::to_string(i);
    const XpTiffTagIFD* now = after.GetIFD(i);
    if (now == nullptr) {
      return where + ": lost";
    }
    if (std::string diff = Compare(*before.GetIFD(i), *now, where, skip, 0); !diff.empty()) {
      return diff;
    }
  }
  return {};
}

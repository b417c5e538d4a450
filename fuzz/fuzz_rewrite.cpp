// Stores whatever tag tree the input yields and reads it back: storing must
// never fail on a parsed tree, its length must match the directory sizes, and
// a stored tree must store to the same bytes again. A JPEG input is also
// copied losslessly with the stored tree as its new Exif block, and the copy
// must carry a tree again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

std::vector<std::uint8_t> StoreBytes(XpTiffTagManager& tree, std::span<const XpTiffTagManager::PinnedValue> pins = {}) {
  XpMemoryFile out;
  XpStatus st = XpStatus::Ok;
  if (tree.Store(out, pins, &st) == 0 && st != XpStatus::JpegEncodeFailed) {
    std::abort();  // a parsed tree always stores, unless it outgrows 32-bit offsets
  }
  return out.TakeBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  XpMemoryFile stream{input};
  const bool jpeg = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
  TagTreePtr tree;
  if (jpeg) {
    if (XpJpegExif::ReadTagTree(stream, &tree, 0) != XpStatus::Ok) {
      tree.reset();
    }
  } else {
    tree = std::make_shared<XpTiffTagManager>();
    if (!tree->Load(stream)) {
      tree.reset();
    }
  }
  if (tree == nullptr || !tree->HasIFD()) {
    return 0;
  }

  const std::vector<std::uint8_t> first = StoreBytes(*tree);
  if (first.empty()) {
    return 0;
  }
  std::uint64_t expected = 8;
  for (std::size_t i = 0; i < tree->IFDCount(); ++i) {
    expected += tree->GetIFD(i)->StoredSize(true);
  }
  if (expected != first.size()) {
    std::abort();
  }
  XpMemoryFile again{std::span<const std::uint8_t>(first)};
  XpTiffTagManager reloaded;
  if (!reloaded.Load(again)) {
    std::abort();
  }
  if (StoreBytes(reloaded) != first) {
    std::abort();
  }

  // A raw maker note pinned where the input says.
  if (const XpTiffTagIFD* exif = tree->GetExifIFD()) {
    if (const XpTiffTagDataBase* note = exif->Find(kTagMakerNote); note != nullptr && !note->IsIFD() && size >= 2) {
      const XpTiffTagManager::PinnedValue pin{note, static_cast<std::uint32_t>(data[size - 1] << 8 | data[size - 2])};
      const std::vector<std::uint8_t> pinned = StoreBytes(*tree, {&pin, 1});
      XpMemoryFile pinnedStream{std::span<const std::uint8_t>(pinned)};
      XpTiffTagManager check;
      if (!pinned.empty() && !check.Load(pinnedStream)) {
        std::abort();
      }
    }
  }

  if (jpeg && first.size() + 6 <= XpExifRewrite::kMaxApp1Payload) {
    std::vector<std::uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), first.begin(), first.end());
    XpMemoryFile exifBlock{std::move(block)};
    XpMemoryFile source{input};
    XpMemoryFile copy;
    if (XpExifRewrite::TranscodeWithExif(exifBlock, source, copy) == XpStatus::Ok) {
      TagTreePtr copied;
      if (XpJpegExif::ReadTagTree(copy, &copied, 0) != XpStatus::Ok || copied == nullptr) {
        std::abort();
      }
    }
  }
  return 0;
}

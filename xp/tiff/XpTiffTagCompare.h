#pragma once

#include <cstdint>
#include <functional>
#include <string>

class XpTiffTagIFD;
class XpTiffTagManager;

/// Says whether an entry is left out of a comparison: `where` names its
/// directory ("IFD0", "IFD0/8769", "IFD0/8769/927c/b028", ... the tags of the
/// directory entries that lead to it, in lower-case hex), `tag` the entry.
using XpTiffTagSkip = std::function<bool(const std::string& where, std::uint16_t tag)>;

/// The first difference between two directories and everything below them,
/// as a line such as "IFD0/8769: lost a001", or empty when they hold the same
/// entries. Entries are matched by tag (their order does not count); an
/// ordinary entry must keep its type, count and value bytes; a directory
/// entry must keep the number of its child directories, each compared in
/// turn (the offsets it holds are the layout's business, not compared).
[[nodiscard]] std::string XpTiffDirectoryDifference(const XpTiffTagIFD& before, const XpTiffTagIFD& after,
                                                    const std::string& where, const XpTiffTagSkip& skip = {});

/// The same over the first `topLevel` top-level directories of two trees
/// (IFD0, IFD1, ...): a directory missing from `after` is a difference.
[[nodiscard]] std::string XpTiffTreeDifference(const XpTiffTagManager& before, const XpTiffTagManager& after,
                                               std::size_t topLevel, const XpTiffTagSkip& skip = {});

#pragma once

#include <memory>

class XpTiffTagManager;

/// A shared holder of a tag tree: the tree lives while any holder keeps it.
/// The count is kept with atomic operations, so holders may be on several threads.
using TagTreePtr = std::shared_ptr<XpTiffTagManager>;

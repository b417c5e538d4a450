#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "Applications/Terravue/CommandLine.h"

/// The file-type code of `path` from the library's classifier.
std::uint32_t ClassifyPath(const QString& path);

/// The selected paths of the hand-off list at `path`, in list order.
QStringList ReadHandOffSelection(const QString& path);

/// The real file system, classifier and hand-off reader for the command line.
CommandLineServices SystemCommandLineServices();

#pragma once

#include <QString>
#include <QStringList>

/// Splits one command text into arguments and appends them to `out`.
/// Arguments are separated by blanks (U+0020 only); an argument that starts
/// with a double quote runs to the next double quote, and one whose closing
/// quote is missing is dropped. White space between arguments is skipped, but a
/// text that starts with a blank yields an empty first argument. A tab or a
/// double quote inside an unquoted argument belongs to it.
void SplitCommandLine(const QString& text, QStringList& out);

#pragma once

#include <QString>
#include <QStringView>

namespace quorvel::core {

// The line break new lines get: the file's first one, else "\n". Qt's text widgets turn every
// line break into "\n"; a line typed there is written back with the file's own.
QString dominantLineBreak(QStringView text);

} // namespace quorvel::core

#pragma once

#include <QString>

#include <array>

namespace quorvel::themes {

enum class PaperSize { A4, Letter, A5 };

const std::array<PaperSize, 3> &allPaperSizes();
QString storedName(PaperSize size);
// Lenient on purpose: anything but "letter" or "a5" (case-sensitive) is A4, the default.
PaperSize paperSizeFromSetting(QStringView raw);

} // namespace quorvel::themes

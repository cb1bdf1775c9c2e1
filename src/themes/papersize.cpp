#include "papersize.h"

namespace quorvel::themes {

const std::array<PaperSize, 3> &allPaperSizes()
{
    static const std::array<PaperSize, 3> all{PaperSize::A4, PaperSize::Letter, PaperSize::A5};
    return all;
}

QString storedName(PaperSize size)
{
    switch (size) {
    case PaperSize::Letter:
        return QStringLiteral("letter");
    case PaperSize::A5:
        return QStringLiteral("a5");
    case PaperSize::A4:
        break;
    }
    return QStringLiteral("a4");
}

PaperSize paperSizeFromSetting(QStringView raw)
{
    if (raw == u"letter")
        return PaperSize::Letter;
    if (raw == u"a5")
        return PaperSize::A5;
    return PaperSize::A4;
}

} // namespace quorvel::themes

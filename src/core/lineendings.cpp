#include "lineendings.h"

namespace quorvel::core {

QString dominantLineBreak(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n')
            return QStringLiteral("\n");
        if (text[i] == u'\r')
            return i + 1 < text.size() && text[i + 1] == u'\n' ? QStringLiteral("\r\n")
                                                              : QStringLiteral("\r");
    }
    return QStringLiteral("\n");
}

} // namespace quorvel::core

#include "filerequestgate.h"

#include "core/filereader.h"
#include "previewcontroller.h"

#include <QFile>
#include <QUrl>

#include <sys/stat.h>

namespace quorvel::preview {

bool FileRequestGate::mayLoad(const QString &path)
{
    if (path.startsWith(PreviewController::webDirectory()))
        return true;
    struct stat info{};
    // What is not there fails on its own; stat never blocks on what is.
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode) && info.st_size <= core::FileReader::kImageLimit;
}

void FileRequestGate::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    if (url.isLocalFile() && !mayLoad(url.toLocalFile()))
        info.block(true);
}

} // namespace quorvel::preview

#pragma once

#include <QWebEngineUrlRequestInterceptor>

namespace quorvel::preview {

// Stops the page's loads of local files that are no files to show: a FIFO (the engine's reader
// waits on it for as long as nobody writes, and an export waits on the image), a device
// (/dev/zero never ends), a folder, or a file over core::FileReader::kImageLimit (a 500 MB image
// ran the engine out of memory). A document names what the page loads, so any of these can be
// asked for. The page's own files are let through.
class FileRequestGate : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT

public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // Whether a page may load the local file at `path`.
    static bool mayLoad(const QString &path);
};

} // namespace quorvel::preview

#pragma once

#include "options/UpdateReport.h"

#include <QNetworkRequest>
#include <QObject>
#include <QSaveFile>

class QNetworkReply;

// Redirects a list download follows before it fails.
constexpr int maxListRedirects = 10;
// A download that receives nothing for this long fails.
constexpr int listTransferTimeoutMs = 30000;

// The GET request for a list's source: redirects are followed unless they lead to a less safe
// scheme, and a transfer that stalls for `transferTimeoutMs` is ended.
QNetworkRequest listRequest(const QUrl &source, int transferTimeoutMs = listTransferTimeoutMs);

// Receives a hosts list from `reply` into a temporary file beside `target` as the body arrives,
// and replaces `target` with it only once the whole body came without error: until then, and for
// good after any failure, `target` stays exactly as it was. A child of `reply`.
class ListDownload : public QObject {
public:
    ListDownload(QNetworkReply *reply, const QString &target);

    // Aborts the transfer for the user; it then ends as Canceled.
    void cancel();
    // Once `reply` has finished: commits the body when all went well, and tells how it ended.
    UpdateOutcome finish();

private:
    void receive();

    QNetworkReply *reply;
    QSaveFile file;
    bool canceled = false;
    bool unwritable = false;  // the temporary file could not be made
    bool bodyRefused = false; // the source delivered the list, the disk did not take it
};

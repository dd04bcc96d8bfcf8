#include "options/ListDownload.h"

#include <QNetworkReply>

namespace {

// Any other status (300, 304 and the like come without a network error) would replace the list
// with something that is not it; 206 is a part of it, as no range is ever asked for.
bool succeeded(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true; // not HTTP: no status to judge
    const int code = status.toInt();
    return code >= 200 && code < 300 && code != 206;
}

constexpr qint64 readBufferBytes = 1 << 20;

} // namespace

QNetworkRequest listRequest(const QUrl &source, int transferTimeoutMs)
{
    QNetworkRequest request(source);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(maxListRedirects);
    request.setTransferTimeout(transferTimeoutMs);
    return request;
}

ListDownload::ListDownload(QNetworkReply *reply, const QString &target)
    : QObject(reply), reply(reply), file(target)
{
    unwritable = !file.open(QIODevice::WriteOnly);
    // Unlimited by default: the network thread would read ahead of the disk and hold a list of
    // hundreds of megabytes in memory, more than once over.
    reply->setReadBufferSize(readBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &ListDownload::receive);
}

void ListDownload::cancel()
{
    canceled = true;
    reply->abort();
}

UpdateOutcome ListDownload::finish()
{
    if (canceled)
        return UpdateOutcome::Canceled;
    // A list the disk refused is a save failure only when the source delivered it; a failed source
    // is reported as such, whether or not it could have been saved.
    if (!bodyRefused && (reply->error() != QNetworkReply::NoError || !succeeded(*reply)))
        return UpdateOutcome::Failed;
    receive();
    if (bodyRefused)
        return UpdateOutcome::SaveFailed;
    // Qt can take a connection closed early for the end of the body: one shorter than announced is cut off.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && !reply->hasRawHeader("Content-Encoding") &&
        file.pos() < announced.toLongLong())
        return UpdateOutcome::Failed;
    if (!file.commit())
        return UpdateOutcome::SaveFailed;
    return UpdateOutcome::Updated;
}

void ListDownload::receive()
{
    const QByteArray chunk = reply->readAll();
    if (!succeeded(*reply) || bodyRefused)
        return; // an error page, or the rest of a list that cannot be kept: read only to be dropped
    bodyRefused = unwritable || file.write(chunk) != chunk.size();
    // Nothing can be kept: the rest of the body is not worth fetching.
    if (bodyRefused && !reply->isFinished())
        reply->abort();
}

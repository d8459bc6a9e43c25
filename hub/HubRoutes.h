#pragma once

#include "HttpRequestParser.h"
#include "HttpResponse.h"

#include <QByteArray>
#include <QList>
#include <QString>

class FeedStore;

// What the hub answers to each request; the connection code only moves bytes.
//   GET  /data.json        the feed
//   POST /TOPIC            one inbox message
//   GET  /version.json     <data>/version.json, when present
//   GET  /releases/NAME    <data>/releases/NAME, a plain file name only
class HubRoutes {
public:
    HubRoutes(FeedStore& store, QString topic, QString dataDir);

    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse post(const HttpRequest& request);
    HttpResponse file(const QString& path, const QByteArray& contentType) const;
    HttpResponse release(QByteArrayView encodedName) const;

    FeedStore& m_store;
    QByteArray m_topicPath;
    QString m_dataDir;
};

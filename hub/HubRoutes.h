#pragma once

#include "hub/HttpRequestParser.h"
#include "hub/HttpResponse.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class FeedStore;

// What the hub answers to each request; the connection code only moves bytes.
//   GET  /data.json        the feed
//   POST /TOPIC            one inbox message, answered once it is in the synced journal
//   GET  /version.json     <data>/version.json, when present
//   GET  /releases/NAME    <data>/releases/NAME, a plain file name only
class HubRoutes {
public:
    HubRoutes(FeedStore& store, QString topic, QString dataDir);

    using Later = std::function<void(const HttpResponse&)>;

    // The answer now, or nullopt when it comes later through `later`, unless `context` is gone
    // by then: a message is answered once the journal group holding it is synced.
    std::optional<HttpResponse> handle(const HttpRequest& request, QObject* context, Later later);

private:
    std::optional<HttpResponse> post(const HttpRequest& request, QObject* context, Later later);
    HttpResponse file(const QString& path, const QByteArray& contentType) const;
    HttpResponse release(QByteArrayView encodedName) const;

    FeedStore& m_store;
    QByteArray m_topicPath;
    QString m_dataDir;
};

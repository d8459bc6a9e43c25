#include "hub/HubRoutes.h"

#include "hub/FeedStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

HttpResponse methodNotAllowed(const QByteArray& allow) {
    HttpResponse response = HttpResponse::text(405, "method not allowed here; use " + allow);
    response.headers.append({"Allow", allow});
    return response;
}

bool isGet(const HttpRequest& request) {
    return request.method == "GET" || request.method == "HEAD";
}

// A release name is one plain file name: no folder part, nothing hidden, nothing that a
// decoder elsewhere could turn into a separator.
bool isPlainFileName(const QByteArray& name) {
    if (name.isEmpty() || name.startsWith('.') || name.size() > 255)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == '+';
        if (!ok)
            return false;
    }
    return !name.contains("..");
}

HttpResponse ok(const QByteArray& contentType, const QByteArray& body) {
    HttpResponse response;
    response.contentType = contentType;
    response.body = body;
    return response;
}

QByteArray contentTypeFor(const QString& name) {
    if (name.endsWith(QLatin1String(".json")))
        return "application/json";
    if (name.endsWith(QLatin1String(".zip")))
        return "application/zip";
    return "application/octet-stream";
}

} // namespace

HubRoutes::HubRoutes(FeedStore& store, QString topic, QString dataDir)
    : m_store(store), m_topicPath('/' + topic.toUtf8()), m_dataDir(std::move(dataDir)) {}

std::optional<HttpResponse> HubRoutes::handle(const HttpRequest& request, QObject* context,
                                              Later later) {
    QByteArrayView path = request.target;
    // Absolute form ("http://host/path"), which a proxy may send.
    if (const qsizetype scheme = path.indexOf("://"); scheme > 0 && !path.startsWith('/')) {
        const qsizetype slash = path.indexOf('/', scheme + 3);
        path = slash < 0 ? QByteArrayView("/") : path.sliced(slash);
    }
    if (const qsizetype query = path.indexOf('?'); query >= 0)
        path = path.first(query);

    if (path == "/data.json") {
        if (!isGet(request))
            return methodNotAllowed("GET, HEAD");
        return ok("application/json", m_store.feedText());
    }
    if (path == "/version.json") {
        if (!isGet(request))
            return methodNotAllowed("GET, HEAD");
        return file(m_dataDir + QStringLiteral("/version.json"), "application/json");
    }
    if (path.startsWith("/releases/")) {
        if (!isGet(request))
            return methodNotAllowed("GET, HEAD");
        return release(path.sliced(qsizetype(sizeof("/releases/") - 1)));
    }
    if (path == m_topicPath) {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        return post(request, context, std::move(later));
    }
    return HttpResponse::text(404, "not found");
}

std::optional<HttpResponse> HubRoutes::post(const HttpRequest& request, QObject* context,
                                            Later later) {
    const inbox::Parse parsed = inbox::parse(request.body);
    if (!parsed.message)
        return HttpResponse::text(400, parsed.error.toUtf8());
    // The store reports a failure to the operator; the client learns only the outcome.
    static const QByteArray kNotStored = "the message could not be stored; nothing was changed";
    QString error;
    const bool queued =
        m_store
            .submit(*parsed.message, &error, context,
                    [later](const QString& failure) {
                        later(failure.isEmpty() ? HttpResponse::text(200, "ok")
                                                : HttpResponse::text(503, kNotStored));
                    })
            .has_value();
    if (!queued)
        return HttpResponse::text(503, kNotStored);
    return std::nullopt;
}

// Opened now, read in chunks as the client takes them: a release of tens of MB never sits in
// memory whole.
HttpResponse HubRoutes::file(const QString& path, const QByteArray& contentType) const {
    auto in = std::make_shared<QFile>(path);
    if (!QFileInfo(path).isFile() || !in->open(QIODevice::ReadOnly))
        return HttpResponse::text(404, "not found");
    HttpResponse response;
    response.contentType = contentType;
    response.streamLength = in->size();
    response.stream = std::move(in);
    return response;
}

HttpResponse HubRoutes::release(QByteArrayView encodedName) const {
    const QByteArray name = QByteArray::fromPercentEncoding(encodedName.toByteArray());
    if (!isPlainFileName(name))
        return HttpResponse::text(404, "not found");
    const QString folder = QDir(m_dataDir + QStringLiteral("/releases")).canonicalPath();
    const QString candidate =
        QFileInfo(folder + u'/' + QString::fromUtf8(name)).canonicalFilePath();
    // A symbolic link inside the folder must not lead out of it either.
    if (folder.isEmpty() || candidate.isEmpty() || !candidate.startsWith(folder + u'/'))
        return HttpResponse::text(404, "not found");
    return file(candidate, contentTypeFor(candidate));
}

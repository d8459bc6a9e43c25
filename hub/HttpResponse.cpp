#include "hub/HttpResponse.h"

HttpResponse HttpResponse::text(int status, const QByteArray& line) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = line + '\n';
    return response;
}

QByteArray HttpResponse::reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

QByteArray HttpResponse::head(bool keepAlive) const {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(contentLength()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return out;
}

QByteArray HttpResponse::serialize(bool headOnly, bool keepAlive) const {
    Q_ASSERT(!stream);
    return headOnly ? head(keepAlive) : head(keepAlive) + body;
}

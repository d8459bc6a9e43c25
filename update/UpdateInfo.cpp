#include "update/UpdateInfo.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool isHexDigest(const QString& text) {
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

} // namespace

std::optional<UpdateInfo> decodeUpdateInfo(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue url = object.value(QLatin1String("url"));
    const QJsonValue notes = object.value(QLatin1String("notes"));
    const QJsonValue sha256 = object.value(QLatin1String("sha256"));
    if (!version.isString() || !url.isString())
        return std::nullopt;
    // A member that is absent reads as Undefined, one given as null as Null: both mean "none".
    const auto absent = [](const QJsonValue& v) { return v.isUndefined() || v.isNull(); };
    if (!absent(notes) && !notes.isString())
        return std::nullopt;
    if (!absent(sha256) && !(sha256.isString() && isHexDigest(sha256.toString())))
        return std::nullopt;

    UpdateInfo info;
    info.version = version.toString();
    info.url = url.toString();
    if (notes.isString())
        info.notes = notes.toString();
    if (sha256.isString())
        info.sha256 = sha256.toString().toLatin1().toLower();
    return info;
}

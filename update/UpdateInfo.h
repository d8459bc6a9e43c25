#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// The version manifest: {"version": "2.14", "url": "https://.../Velloa-2.14.zip",
// "notes": "...", "sha256": "<64 hex digits>"}. "notes" and "sha256" may be absent or null;
// other members are ignored.
struct UpdateInfo {
    QString version;
    QString url;
    std::optional<QString> notes;
    // The archive's SHA-256 as 64 lower-case hex digits, or empty when the manifest names none.
    QByteArray sha256;
    // Where the manifest itself was read from (after redirects). Not part of the document: the
    // check fills it in, and a plain-http download is allowed only from that same host.
    QUrl manifestUrl;

    bool operator==(const UpdateInfo&) const = default;
};

// All or nothing: a manifest that is not a JSON object, lacks "version" or "url", has a
// non-string "version", "url" or "notes", or a "sha256" that is not 64 hex digits, is
// unreadable. An integrity field that cannot be checked must not quietly turn the check off.
std::optional<UpdateInfo> decodeUpdateInfo(const QByteArray& body);

#include "Updater.h"

#include "ApplyScript.h"
#include "UpdateTexts.h"
#include "VersionCompare.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSaveFile>
#include <QUuid>
#include <memory>

namespace {

// Qt reports an HTTP error status as a reply error too, but the server did answer and its
// body counts: only failures to get an answer at all are transport errors.
bool isTransportError(QNetworkReply::NetworkError code) {
    const int c = int(code);
    const bool fromStatus = (c >= 200 && c < 300) ||
                            c == QNetworkReply::ProtocolInvalidOperationError ||
                            (c >= 400 && c < 500);
    return code != QNetworkReply::NoError && !fromStatus;
}

QUrl webUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        return {};
    return url;
}

QString newUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QByteArray sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

// What a download has seen so far; shared by the reply's handlers.
struct Download {
    QFile file;
    qint64 received = 0;
    QString problem; // set once the download is given up
};

} // namespace

bool downloadAllowed(const QUrl& archive, const QUrl& manifest) {
    if (archive.scheme() == QLatin1String("https"))
        return true;
    return archive.scheme() == QLatin1String("http") &&
           manifest.scheme() == QLatin1String("http") && !archive.host().isEmpty() &&
           archive.host().compare(manifest.host(), Qt::CaseInsensitive) == 0;
}

Updater::Updater(QNetworkAccessManager& network, UpdateUi& ui, QObject* parent)
    : QObject(parent), network(network), ui(ui) {}

void Updater::checkForUpdate(bool manual) {
    const QUrl url = webUrl(updateUrl);
    if (url.isEmpty())
        return;
    // No cache is attached to the network manager, so the GET always reaches the server.
    QNetworkRequest request(url);
    request.setTransferTimeout(int(checkTimeout.count()));
    QNetworkReply* reply = network.get(request);
    // The whole manifest waits in the reply until it has arrived; one byte over the limit is
    // enough to know it is too big.
    reply->setReadBufferSize(kMaxManifestBytes + 1);
    auto oversized = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, oversized](qint64 received, qint64) {
                if (received > kMaxManifestBytes && !*oversized) {
                    *oversized = true;
                    reply->abort();
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, manual, oversized] {
        reply->deleteLater();
        handleManifest(reply, manual, *oversized);
    });
}

void Updater::handleManifest(QNetworkReply* reply, bool manual, bool oversized) {
    const QByteArray body = oversized || !reply->isOpen() ? QByteArray() : reply->readAll();
    std::optional<UpdateInfo> info = decodeUpdateInfo(body);
    if (!info) {
        if (manual)
            ui.alert(update_text::kCheckFailedTitle, update_text::kCheckFailedText);
    } else if (isNewer(info->version, appVersion)) {
        // Once per run, whoever asked: declining only closes the offer.
        if (!m_updatePrompted) {
            m_updatePrompted = true;
            info->manifestUrl = reply->url();
            promptUpdate(*info);
        }
    } else if (manual) {
        ui.alert(update_text::kUpToDateTitle, update_text::upToDateText(appVersion));
    }
    emit checkHandled();
}

void Updater::promptUpdate(const UpdateInfo& info) {
    if (!location.replaceable()) {
        ui.alert(update_text::offerTitle(info), update_text::manualOfferText(info, appVersion));
        return;
    }
    if (ui.promptUpdate(update_text::offerTitle(info), update_text::offerText(info, appVersion)))
        downloadAndInstall(info);
}

void Updater::fail(const QString& title, const QString& description, const UpdateInfo& info) {
    ui.alert(title, update_text::failureText(description, info.url));
    emit updateFailed();
}

void Updater::downloadAndInstall(const UpdateInfo& info) {
    const QUrl url = webUrl(info.url);
    if (url.isEmpty())
        return;
    if (!downloadAllowed(url, info.manifestUrl))
        return fail(update_text::kDownloadFailedTitle, update_text::insecureDownload(), info);

    auto download = std::make_shared<Download>();
    download->file.setFileName(tempDir + QStringLiteral("/velloa-dl-") + newUuid() +
                               QStringLiteral(".zip"));
    if (!download->file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(update_text::kDownloadFailedTitle,
                    update_text::cannotSaveDownload(download->file.errorString()), info);

    QNetworkRequest request(url);
    request.setTransferTimeout(int(downloadTimeout.count()));
    // Never from https down to http; a plain-http download stays on its own host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         url.scheme() == QLatin1String("https")
                             ? QNetworkRequest::NoLessSafeRedirectPolicy
                             : QNetworkRequest::SameOriginRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    // Straight to disk as it arrives: a release is never held in memory. Without a limit the
    // network thread would read ahead into the reply's buffer as fast as the link allows.
    reply->setReadBufferSize(kDownloadBufferBytes);
    const auto save = [this, reply, download] {
        if (!download->problem.isEmpty())
            return;
        const QByteArray chunk = reply->readAll();
        if (download->received + chunk.size() > maxDownloadBytes)
            download->problem = update_text::downloadTooLarge(maxDownloadBytes);
        else if (download->file.write(chunk) != chunk.size())
            download->problem = update_text::cannotSaveDownload(download->file.errorString());
        download->received += chunk.size();
        if (!download->problem.isEmpty())
            reply->abort();
    };
    connect(reply, &QNetworkReply::readyRead, this, save);
    connect(reply, &QNetworkReply::finished, this, [this, reply, download, info, save] {
        reply->deleteLater();
        if (reply->isOpen())
            save();
        if (!download->file.flush() && download->problem.isEmpty())
            download->problem = update_text::cannotSaveDownload(download->file.errorString());
        download->file.close();
        if (download->problem.isEmpty() && isTransportError(reply->error())) {
            const QString error = reply->errorString();
            download->problem = error.isEmpty() ? update_text::kNetworkProblem : error;
        }
        if (!download->problem.isEmpty()) {
            download->file.remove();
            return fail(update_text::kDownloadFailedTitle, download->problem, info);
        }
        installUpdate(download->file.fileName(), info);
    });
}

void Updater::installUpdate(const QString& zip, const UpdateInfo& info) {
    const auto failed = [&](const QString& description) {
        fail(update_text::kInstallFailedTitle, description, info);
    };
    if (!location.replaceable())
        return failed(update_text::cannotReplaceHere());

    const QString work =
        QDir(tempDir).absoluteFilePath(QStringLiteral("velloa-update-") + newUuid());
    if (!QDir().mkpath(work))
        return failed(update_text::cannotCreateFolder(work));
    const QString archive = work + QStringLiteral("/update.zip");
    QFile download(zip);
    if (!download.rename(archive))
        return failed(update_text::cannotMoveDownload(download.errorString()));
    if (!info.sha256.isEmpty() && sha256Of(archive) != info.sha256)
        return failed(update_text::checksumMismatch());
    if (!unpacker.unpack(archive, work))
        return failed(update_text::unzipError(1));

    // The first .app in name order: the same choice on every file system.
    QString newApp;
    const QFileInfoList entries = QDir(work).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() == QLatin1String("app") && entry.fileName().size() > 4) {
            newApp = entry.absoluteFilePath();
            break;
        }
    }
    if (newApp.isEmpty() || !isApplicationFolder(newApp, platform))
        return failed(update_text::unzipError(2));

    const std::optional<QByteArray> script =
        applyScript(platform, {pid, location.bundlePath, newApp, work});
    const QString scriptPath = work + QStringLiteral("/apply.sh");
    QSaveFile out(scriptPath);
    if (!script || !out.open(QIODevice::WriteOnly) || out.write(*script) != script->size() ||
        !out.commit())
        return failed(update_text::cannotWriteScript(out.errorString()));
    // bash reads the script; it needs no execute permission. Started in a session of its own,
    // it outlives this process.
    if (!QProcess::startDetached(shell, {scriptPath}, tempDir))
        return failed(update_text::cannotStartScript(shell));
    emit quitRequested();
}

#include "update/Updater.h"

#include "update/ApplyScript.h"
#include "net/Transport.h"
#include "update/UpdateTexts.h"
#include "update/VersionCompare.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkRequest>
#include <QProcess>
#include <QSaveFile>
#include <QUuid>
#include <memory>

namespace {

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

// Why a finished download cannot be installed; empty when it can.
QString downloadProblem(const net::Result& result, QFile& file, qint64 maxBytes) {
    if (result.oversized)
        return update_text::downloadTooLarge(maxBytes);
    if (!result.sinkError.isEmpty())
        return update_text::cannotSaveDownload(result.sinkError);
    if (!file.flush())
        return update_text::cannotSaveDownload(file.errorString());
    if (result.transportError)
        return result.transportError->isEmpty() ? update_text::kNetworkProblem
                                                : *result.transportError;
    return {};
}

} // namespace

bool downloadAllowed(const QUrl& archive, const QUrl& manifest) {
    if (archive.scheme() == QLatin1String("https"))
        return true;
    return archive.scheme() == QLatin1String("http") &&
           manifest.scheme() == QLatin1String("http") && !archive.host().isEmpty() &&
           archive.host().compare(manifest.host(), Qt::CaseInsensitive) == 0;
}

Updater::Updater(QNetworkAccessManager& network, UpdateUi& ui, QObject* parent)
    : QObject(parent), m_network(network), m_ui(ui) {}

void Updater::checkForUpdate(bool manual) {
    const QUrl url = webUrl(updateUrl);
    if (url.isEmpty())
        return;
    // No cache is attached to the network manager, so the GET always reaches the server.
    net::send(m_network,
              {.http = QNetworkRequest(url),
               .limits = {.maxBytes = kMaxManifestBytes,
                          .idleTimeout = checkTimeout,
                          .deadline = kCheckDeadline}},
              this, [this, manual](const net::Result& result) { handleManifest(result, manual); });
}

void Updater::handleManifest(const net::Result& result, bool manual) {
    // A failure leaves no body to read, whatever part of one had arrived; one over the limit
    // comes back empty.
    std::optional<UpdateInfo> info =
        decodeUpdateInfo(result.transportError ? QByteArray() : result.body);
    if (!info) {
        if (manual)
            m_ui.alert(update_text::kCheckFailedTitle, update_text::kCheckFailedText);
    } else if (isNewer(info->version, appVersion)) {
        // Once per run, whoever asked: declining only closes the offer.
        if (!m_updatePrompted) {
            m_updatePrompted = true;
            info->manifestUrl = result.url;
            promptUpdate(*info);
        }
    } else if (manual) {
        m_ui.alert(update_text::kUpToDateTitle, update_text::upToDateText(appVersion));
    }
    emit checkHandled();
}

void Updater::promptUpdate(const UpdateInfo& info) {
    if (!location.replaceable()) {
        m_ui.alert(update_text::offerTitle(info), update_text::manualOfferText(info, appVersion));
        return;
    }
    if (m_ui.promptUpdate(update_text::offerTitle(info), update_text::offerText(info, appVersion)))
        downloadAndInstall(info);
}

void Updater::fail(const QString& title, const QString& description, const UpdateInfo& info) {
    m_ui.alert(title, update_text::failureText(description, info.url));
    emit updateFailed();
}

void Updater::downloadAndInstall(const UpdateInfo& info) {
    const QUrl url(info.url, QUrl::StrictMode);
    if (!url.isValid())
        return;
    // Also what is not http(s) at all: a download that cannot start must not end in silence.
    if (!downloadAllowed(url, info.manifestUrl))
        return fail(update_text::kDownloadFailedTitle, update_text::insecureDownload(), info);

    auto file = std::make_shared<QFile>(tempDir + QStringLiteral("/velloa-dl-") + newUuid() +
                                        QStringLiteral(".zip"));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(update_text::kDownloadFailedTitle,
                    update_text::cannotSaveDownload(file->errorString()), info);

    QNetworkRequest request(url);
    // Never from https down to http; a plain-http download stays on its own host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         url.scheme() == QLatin1String("https")
                             ? QNetworkRequest::NoLessSafeRedirectPolicy
                             : QNetworkRequest::SameOriginRedirectPolicy);
    // Straight to disk as it arrives: a release is never held in memory.
    const net::Limits limits{.maxBytes = maxDownloadBytes,
                             .idleTimeout = downloadTimeout,
                             .deadline = downloadDeadline,
                             .readBufferBytes = kDownloadBufferBytes};
    net::send(m_network, {.http = request, .limits = limits, .sink = file.get()}, this,
              [this, file, info](const net::Result& result) {
                  const QString problem = downloadProblem(result, *file, maxDownloadBytes);
                  file->close();
                  if (problem.isEmpty())
                      return installUpdate(file->fileName(), info);
                  file->remove();
                  fail(update_text::kDownloadFailedTitle, problem, info);
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

#include "moc_Updater.cpp"

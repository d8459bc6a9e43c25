#include "update/UpdateTexts.h"

namespace update_text {

namespace {

QString notesPrefix(const UpdateInfo& info) {
    return info.notes && !info.notes->isEmpty() ? *info.notes + QStringLiteral("\n\n") : QString();
}

} // namespace

QString upToDateText(const QString& appVersion) {
    return QStringLiteral("当前 v") + appVersion + QStringLiteral("，没有更新的版本～");
}

QString offerTitle(const UpdateInfo& info) {
    return QStringLiteral("维洛清单有新版本 v") + info.version + QStringLiteral(" 啦");
}

QString offerText(const UpdateInfo& info, const QString& appVersion) {
    return notesPrefix(info) + QStringLiteral("当前 v") + appVersion +
           QStringLiteral("。点「马上更新」会自动下载、替换、重启，不用手动下载～");
}

QString manualOfferText(const UpdateInfo& info, const QString& appVersion) {
    return notesPrefix(info) + QStringLiteral("当前 v") + appVersion +
           QStringLiteral("，装在这里的维洛清单没法自动替换。\n可以手动装：") + info.url;
}

QString failureText(const QString& description, const QString& url) {
    return description + QStringLiteral("\n可以手动装：") + url;
}

QString unzipError(int code) {
    return code == 2 ? QStringLiteral("更新包里没有 .app（unzip 错误 2）")
                     : QStringLiteral("更新包解不开（unzip 错误 %1）").arg(code);
}

QString cannotCreateFolder(const QString& path) {
    return QStringLiteral("建不了临时文件夹 ") + path;
}

QString cannotMoveDownload(const QString& reason) {
    return QStringLiteral("移不动下载的文件：") + reason;
}

QString cannotWriteScript(const QString& reason) {
    return QStringLiteral("写不了更新脚本：") + reason;
}

QString cannotStartScript(const QString& program) {
    return QStringLiteral("启动不了更新脚本：") + program;
}

QString checksumMismatch() {
    return QStringLiteral("更新包和版本信息里的 sha256 对不上");
}

QString insecureDownload() {
    return QStringLiteral("更新包地址不安全（不是 https），没有下载");
}

QString downloadTooLarge(qint64 maxBytes) {
    return QStringLiteral("更新包超过 %1 MiB，没有下载完").arg(maxBytes / (1024 * 1024));
}

QString cannotSaveDownload(const QString& reason) {
    return QStringLiteral("存不下下载的文件：") + reason;
}

QString cannotReplaceHere() {
    return QStringLiteral("装在这里的维洛清单没法自动替换");
}

} // namespace update_text

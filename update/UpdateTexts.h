#pragma once

#include "update/UpdateInfo.h"

#include <QString>

// Every text the updater shows, in one place, exactly as the user sees it.
namespace update_text {

inline const QString kAcceptButton = QStringLiteral("马上更新");
inline const QString kLaterButton = QStringLiteral("以后再说");
inline const QString kOkButton = QStringLiteral("好");

inline const QString kCheckFailedTitle = QStringLiteral("检查更新失败");
inline const QString kCheckFailedText = QStringLiteral("拉不到版本信息，等下再试～");
inline const QString kUpToDateTitle = QStringLiteral("已经是最新的啦");
inline const QString kDownloadFailedTitle = QStringLiteral("下载失败");
inline const QString kInstallFailedTitle = QStringLiteral("更新失败");
// The description of a download that failed without saying why.
inline const QString kNetworkProblem = QStringLiteral("网络问题");

// "当前 v2.13，没有更新的版本～"
QString upToDateText(const QString& appVersion);
// The offer's message text: "维洛清单有新版本 v2.14 啦".
QString offerTitle(const UpdateInfo& info);
// The offer's informative text: the notes and a blank line (when there are notes), then what
// "马上更新" does.
QString offerText(const UpdateInfo& info, const QString& appVersion);
// The offer shown where the running app cannot be replaced: the notes, then how to update
// by hand instead of an install that would fail half-way.
QString manualOfferText(const UpdateInfo& info, const QString& appVersion);
// A failure alert's text: the description, a line break, "可以手动装：" and the archive's URL.
QString failureText(const QString& description, const QString& url);

// Descriptions of the installation's own failures.
QString unzipError(int code); // 1: the archive would not unpack; 2: it holds no .app
QString cannotCreateFolder(const QString& path);
QString cannotMoveDownload(const QString& reason);
QString cannotWriteScript(const QString& reason);
QString cannotStartScript(const QString& program);
QString checksumMismatch();
QString insecureDownload();
QString downloadTooLarge(qint64 maxBytes);
QString cannotSaveDownload(const QString& reason);
QString cannotReplaceHere();

} // namespace update_text

#include "support/Assets.h"

#include "support/Theme.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

QString appResourceDir() {
    const QDir exeDir(QCoreApplication::applicationDirPath());
#ifdef Q_OS_MACOS
    return QDir::cleanPath(exeDir.filePath(QStringLiteral("../Resources")));
#else
    return exeDir.filePath(QStringLiteral("resources"));
#endif
}

QString installedResourceDir() {
#ifdef Q_OS_MACOS
    return appResourceDir();
#else
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/velloa"));
#endif
}

std::optional<QString> assetURL(const QString& name, const QString& ext) {
    const QString fileName = name + QLatin1Char('.') + ext;
    for (const QString& dir : {appResourceDir(), installedResourceDir()}) {
        const QString path = QDir(dir).filePath(fileName);
        if (QFileInfo::exists(path))
            return path;
    }
    const QByteArray extra = qgetenv("VELLOA_RES");
    if (!extra.isNull()) {
        const QString path = QDir(QFile::decodeName(extra)).filePath(fileName);
        if (QFileInfo::exists(path))
            return path;
    }
    return std::nullopt;
}

QList<int> registerBundledFonts() {
    QList<int> ids;
    for (const char* name : {"VelloaFont", "VelloaFontBold"}) {
        const std::optional<QString> path = assetURL(QLatin1String(name), QStringLiteral("ttf"));
        if (!path)
            continue;
        const int id = QFontDatabase::addApplicationFont(*path);
        if (id >= 0)
            ids.append(id);
    }
    return ids;
}

namespace {

// The DPI Qt turns point sizes into pixels with, for screens and images alike.
double fontDpi() {
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi))
        return 96;
    if (qGuiApp) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return qRound(screen->logicalDotsPerInchY());
    }
    return 96;
}

} // namespace

QFont noteFont(double size, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    // QFont only takes whole pixel sizes; a point size reaches fractional ones like 10.5.
    font.setPointSizeF(size * 72.0 / fontDpi());
    font.setWeight(weight);
    return font;
}

NotePara notePara() {
    NotePara para;
    para.option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    para.lineSpacing = 3;
    return para;
}

std::optional<QImage> decodeBase64Image(const QByteArray& base64) {
    const auto decoded =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    QImage image = QImage::fromData(decoded.decoded);
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<QImage> vlBackgroundImage(const QSize& size) {
    if (size.isEmpty())
        return std::nullopt;
    // The whole picture lives only for this call: the card keeps the scaled copy alone.
    const std::optional<QImage> whole = decodeBase64Image(BG_B64());
    if (!whole)
        return std::nullopt;
    return whole->scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

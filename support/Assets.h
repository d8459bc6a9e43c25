#pragma once

#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QList>
#include <QString>
#include <QTextOption>

#include <optional>

// The application's own resource folder: Contents/Resources of the bundle on macOS, the
// "resources" folder next to the executable elsewhere. Needs the QCoreApplication.
QString appResourceDir();

// Where an install under a prefix keeps the resources: PREFIX/share/velloa beside PREFIX/bin
// (the package: /usr/share/velloa); the bundle's own folder on macOS. Needs the
// QCoreApplication.
QString installedResourceDir();

// Path of the resource file name.ext: the application's resource folder first, then the
// installed one, then the folder named by VELLOA_RES. Nothing when none has the file.
std::optional<QString> assetURL(const QString& name, const QString& ext);

// Registers "VelloaFont" and "VelloaFontBold" (.ttf) where assetURL finds them; missing files
// and files Qt cannot read are skipped. Must run after the QGuiApplication exists (Qt's font
// database crashes without one). Returns the ids Qt gave the registered files, in order.
QList<int> registerBundledFonts();

// The default UI font at `size` device-independent pixels (the unit of every other length in
// the views) and the given weight.
QFont noteFont(double size, QFont::Weight weight = QFont::Normal);

// Paragraph settings of every wrapped note text: wrap at word boundaries (inside a word only
// when it is longer than the line) with 3 pixels between lines.
struct NotePara {
    QTextOption option;
    double lineSpacing = 0;
};
NotePara notePara();

// Decodes strict base64 text into an image; nothing when the text or the image data is bad.
std::optional<QImage> decodeBase64Image(const QByteArray& base64);

// The note panel's background picture (BG_B64), stretched smoothly to `size` device pixels.
// The whole 600 x 960 picture is decoded for the call and dropped, so only the caller's copy
// stays; nothing when the picture cannot be read or `size` is empty.
std::optional<QImage> vlBackgroundImage(const QSize& size);

#include "update/ApplyScript.h"

#include <QDir>
#include <QFile>

QByteArray shellQuote(const QByteArray& text) {
    QByteArray quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

std::optional<QByteArray> applyScript(UpdatePlatform platform, const ApplyPaths& paths) {
    for (const QString& path : {paths.target, paths.newApp, paths.work}) {
        if (!QDir::isAbsolutePath(path))
            return std::nullopt;
    }
    if (paths.pid <= 0)
        return std::nullopt;

    const bool mac = platform == UpdatePlatform::MacOS;
    const QByteArray copy = mac ? "ditto" : "cp -a";
    QByteArray script;
    script += "#!/bin/bash\n";
    script += "# 等旧进程退出 → 换包（换失败就还原）→ 打开新版 → 清理\n";
    script += "PID=" + QByteArray::number(paths.pid) + '\n';
    script += "TARGET=" + shellQuote(QFile::encodeName(paths.target)) + '\n';
    script += "NEW=" + shellQuote(QFile::encodeName(paths.newApp)) + '\n';
    script += "while kill -0 \"$PID\" 2>/dev/null; do sleep 0.4; done\n";
    script += "rm -rf \"$TARGET.old\"\n";
    script += "if ! mv \"$TARGET\" \"$TARGET.old\"; then exit 1; fi\n";
    // A copy that fails half-way leaves a partial folder behind; mv would put the old version
    // inside it instead of in its place, so the partial copy goes first.
    script += "if ! " + copy +
              " \"$NEW\" \"$TARGET\"; then rm -rf \"$TARGET\"; mv \"$TARGET.old\" \"$TARGET\"; "
              "exit 1; fi\n";
    script += "rm -rf \"$TARGET.old\"\n";
    if (mac) {
        script += "xattr -dr com.apple.quarantine \"$TARGET\" 2>/dev/null\n";
        script += "open \"$TARGET\"\n";
    } else {
        // Its own session and no terminal streams: the new app must not end with this script.
        script += "setsid \"$TARGET/" + QFile::encodeName(kLinuxExecutable) +
                  "\" </dev/null >/dev/null 2>&1 &\n";
    }
    script += "rm -rf " + shellQuote(QFile::encodeName(paths.work));
    return script;
}

#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <unistd.h>

// Figures the hub benchmarks read from /proc beside their timings.

// User and system CPU time a process has used, in seconds: other load on the machine distorts
// it much less than wall-clock time. -1 when the process is gone.
inline double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(::sysconf(_SC_CLK_TCK));
}

// The 1-minute load average: figures are only comparable with the load they ran under.
inline QByteArray loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0) : "?";
}

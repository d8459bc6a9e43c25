#pragma once

#include <QStringList>
#include <QTextStream>

class QIODevice;

// The velloa-feed command line: `check` and `view` over the app's own decoder and list state.
// Exit codes: 0 accepted, 1 feed rejected, 2 bad argument or overlay file.
int runFeedTool(const QStringList& args, QIODevice* standardInput, QTextStream& out,
                QTextStream& err);

#pragma once

#include "model/Payload.h"

#include <QByteArray>

// The feed's row format written back out, for the tools that publish or show feeds (the app
// itself only reads them). Members in the feed's order; absent optional fields are left out.
// Strings are written as Qt's JSON writer writes them (UTF-8, only what JSON requires escaped).
QByteArray jsonString(const QString& text);
QByteArray rowJson(const Row& row);
// The same, appended to `out`: a whole feed is written into one buffer.
void appendJsonString(QByteArray& out, const QString& text);
void appendRowJson(QByteArray& out, const Row& row);

#pragma once

#include "Payload.h"

#include <QByteArray>

// The feed's row format written back out, for the tools that publish or show feeds (the app
// itself only reads them). Members in the feed's order; absent optional fields are left out.
QByteArray jsonString(const QString& text);
QByteArray rowJson(const Row& row);

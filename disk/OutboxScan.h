#pragma once

#include "disk/Outbox.h"

#include <QByteArrayView>
#include <optional>

// A start reads every line of the outbox, thousands after days offline, and Qt's JSON parser
// followed by the message's checks is most of that time. The lines the outbox writes have one
// plain form, which this reads directly: compact, each member once, strings without escapes,
// integers of at most 15 digits, a message with only the members of the message's form.
// Anything else, damaged or merely unusual (a quote in a text, an unknown member), gives nothing
// and goes to the general reader, so a line is never read differently, only faster.
std::optional<Outbox::Entry> scanPlainEntry(QByteArrayView line);

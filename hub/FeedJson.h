#pragma once

#include "model/Payload.h"

#include <QByteArray>
#include <QDate>
#include <optional>

// The member in which the hub records the last journal sequence number the feed includes.
// The app skips members it does not know, so it never sees it.
inline constexpr const char* kAppliedSeqMember = "hub_seq";

// The feed as the hub publishes it: members in the feed's own order, one row per line, and
// `hub_seq`. Optional row fields that are absent are left out.
QByteArray serializeFeed(const Payload& feed, qint64 appliedSeq);

struct StoredFeed {
    Payload feed;
    qint64 appliedSeq = 0;
};

// Reads a feed file in one pass with the app's own decoder, `hub_seq` included. Absent means 0
// (a feed written by someone else); anything but a non-negative integer is an error.
std::optional<StoredFeed> readFeed(QByteArrayView text, QString* error);

// A feed to start from: both lists, sections in Chinese, tasks done today and done earlier.
Payload demoFeed(const QDateTime& now);

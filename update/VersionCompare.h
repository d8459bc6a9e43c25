#pragma once

#include <QStringView>

// Release versions are dotted numbers ("2.13", "2.13.1"), compared piece by piece as numbers.
// Pieces that are not plain decimal integers count as 0, so "3.0beta" is 3.0 and "v2" is 0.

// One piece as a number: an optional "+" or "-" and one or more ASCII digits, nothing else, that
// fits a signed 64-bit integer; anything else is 0.
qint64 versionPiece(QStringView piece);

// True when version `a` is newer than `than`. Empty pieces ("2..13") are dropped and missing
// trailing pieces count as 0, so "2.13" and "2.13.0" are equal and neither is newer.
bool isNewer(QStringView a, QStringView than);

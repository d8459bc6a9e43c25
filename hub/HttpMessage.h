#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// What HTTP/1.x requests and responses share: a head (a start line, header fields, an empty
// line) read out of a byte stream, and the header fields. Used by the hub's request parser and
// by the response reader its tests use, so both sides frame messages the same way.
namespace http {

// Header fields in the order received; names lower-cased (they are case-blind), values with
// the surrounding white space removed.
struct Fields {
    QList<std::pair<QByteArray, QByteArray>> list;

    // The first value of `name` (lower case), empty when absent.
    QByteArray value(QByteArrayView name) const;
    bool contains(QByteArrayView name) const;
};

// A byte stream from which messages are taken one after another. Bytes are consumed by moving
// an offset and each byte is scanned for the end of a head only once, so reading n pipelined
// messages costs time linear in their bytes; the consumed front is dropped only when it is
// at least half of the buffer.
class StreamBuffer {
public:
    void append(QByteArrayView data);

    enum class Head { Incomplete, Found, TooLarge };
    // Looks for the next complete head, after any empty lines (which some clients send between
    // messages). On Found, `head()` holds it without the final empty line.
    Head findHead(qsizetype maxHead);
    QByteArrayView head() const;
    // Drops the head found last, with its final empty line.
    void consumeHead();

    // Bytes not consumed yet.
    qsizetype available() const { return m_data.size() - m_pos; }
    QByteArray take(qsizetype n);
    // True once some byte of the next message has arrived (empty lines before it do not count).
    bool started() const;
    void clear();

private:
    void compact();

    QByteArray m_data;
    qsizetype m_pos = 0;       // first byte not consumed
    qsizetype m_scanned = 0;   // bytes from m_pos on that are already scanned
    qsizetype m_lineStart = 0; // offset from m_pos of the line being scanned
    qsizetype m_headEnd = -1;  // after Found: end of the head, then of the empty line
    qsizetype m_after = -1;
};

// Splits a head into its start line and header fields. Refuses (with a one-line reason) a field
// that is not `token ":" value`, and a value holding a control character other than a tab: a
// CR or NUL inside a value is a known way to smuggle a second message past a proxy.
struct SplitHead {
    QByteArrayView startLine;
    Fields fields;
};
std::optional<SplitHead> splitHead(QByteArrayView head, QByteArray* reason);

bool isToken(QByteArrayView text);

} // namespace http

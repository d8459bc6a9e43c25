#include "disk/OutboxScan.h"

#include "model/ListRules.h"

namespace {

// Reads a compact JSON text front to back; every call is false where the text leaves the
// plain form, without telling why (the general reader will).
class Scanner {
public:
    explicit Scanner(QByteArrayView text) : m_at(text.data()), m_end(text.data() + text.size()) {}

    const char* at() const { return m_at; }
    bool atEnd() const { return m_at == m_end; }

    bool take(char c) {
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    // The bytes between the quotes of a string without escapes or control characters.
    bool string(QByteArrayView* out) {
        if (!take('"'))
            return false;
        const char* start = m_at;
        while (m_at != m_end && *m_at != '"') {
            if (*m_at == '\\' || uchar(*m_at) < 0x20)
                return false;
            ++m_at;
        }
        if (m_at == m_end)
            return false;
        *out = QByteArrayView(start, m_at - start);
        ++m_at;
        return true;
    }

    // An integer a double holds exactly, as Qt's parser would read it; no fraction, exponent,
    // leading zero or minus zero.
    bool integer(qint64* out) {
        const bool minus = take('-');
        const char* start = m_at;
        qint64 value = 0;
        while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
            value = value * 10 + (*m_at++ - '0');
        const qsizetype digits = m_at - start;
        if (digits == 0 || digits > 15 || (digits > 1 && *start == '0') || (minus && value == 0))
            return false;
        if (m_at != m_end && (*m_at == '.' || *m_at == 'e' || *m_at == 'E'))
            return false;
        *out = minus ? -value : value;
        return true;
    }

    bool stringList(QStringList* out) {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            QByteArrayView item;
            if (!string(&item))
                return false;
            out->append(QString::fromUtf8(item));
        } while (take(','));
        return take(']');
    }

private:
    const char* m_at;
    const char* m_end;
};

// Whether a member of this name came before; notes it when not.
bool seenBefore(unsigned* seen, unsigned bit) {
    return std::exchange(*seen, *seen | bit) & bit;
}

// One element of an order: an object of the two strings `id` and `cat`, each once.
bool scanOrderItem(Scanner& s, inbox::OrderItem* item) {
    QByteArrayView first, second, firstValue, secondValue;
    if (!s.take('{') || !s.string(&first) || !s.take(':') || !s.string(&firstValue) ||
        !s.take(',') || !s.string(&second) || !s.take(':') || !s.string(&secondValue) ||
        !s.take('}'))
        return false;
    if (first == "cat" && second == "id")
        std::swap(firstValue, secondValue);
    else if (first != "id" || second != "cat")
        return false;
    item->id = QString::fromUtf8(firstValue);
    item->cat = QString::fromUtf8(secondValue);
    return true;
}

bool scanOrder(Scanner& s, QList<inbox::OrderItem>* out) {
    if (!s.take('['))
        return false;
    if (s.take(']'))
        return true;
    do {
        if (!scanOrderItem(s, &out->emplace_back()))
            return false;
    } while (s.take(','));
    return s.take(']');
}

// The message object, with the checks of the inbox reader for the forms that get here.
std::optional<inbox::Message> scanMessage(Scanner& s) {
    using inbox::Action;
    enum : unsigned { kAction = 1, kList = 2, kId = 4, kText = 8, kTs = 16, kOrder = 32 };
    QByteArrayView action, list, id, text;
    QList<inbox::OrderItem> order;
    qint64 ts = 0;
    unsigned seen = 0;
    if (!s.take('{'))
        return std::nullopt;
    do {
        QByteArrayView name;
        if (!s.string(&name) || !s.take(':'))
            return std::nullopt;
        if (name == "ts") {
            if (seenBefore(&seen, kTs) || !s.integer(&ts))
                return std::nullopt;
            continue;
        }
        if (name == "order") {
            if (seenBefore(&seen, kOrder) || !scanOrder(s, &order))
                return std::nullopt;
            continue;
        }
        const auto [slot, bit] = name == "action" ? std::pair{&action, kAction}
                                 : name == "list" ? std::pair{&list, kList}
                                 : name == "id"   ? std::pair{&id, kId}
                                 : name == "text" ? std::pair{&text, kText}
                                                  : std::pair{&action, 0u};
        if (bit == 0 || seenBefore(&seen, bit) || !s.string(slot))
            return std::nullopt;
    } while (s.take(','));
    const std::optional<Action> known = inbox::actionNamed(QString::fromLatin1(action));
    const bool mine = QLatin1StringView(list) == rules::kMine;
    const bool namesTask = known == Action::Done || known == Action::Undone || known == Action::Edit;
    const bool carriesText = known == Action::Edit || known == Action::Add;
    const bool ordered = known == Action::Reorder;
    if (!s.take('}') || !known || !(seen & kTs) || (ordered && !(seen & kOrder)) ||
        (!mine && QLatin1StringView(list) != rules::kHers) || (namesTask && !(seen & kId)) ||
        (carriesText && text.isEmpty()))
        return std::nullopt;
    inbox::Message message;
    message.list = mine ? rules::kMine : rules::kHers;
    message.action = *known;
    message.ts = ts;
    if (namesTask)
        message.id = QString::fromUtf8(id);
    if (carriesText)
        message.text = QString::fromUtf8(text);
    if (ordered)
        message.order = std::move(order);
    return message;
}

constexpr unsigned kSeenSeq = 1, kSeenAt = 2, kSeenBeside = 4, kSeenPending = 8, kSeenShown = 16;

// One member of the line before its message; false where the line leaves the plain form.
bool scanHeaderMember(Scanner& s, QByteArrayView name, Outbox::Entry* entry, unsigned* seen) {
    QByteArrayView text;
    if (name == "seq")
        return !seenBefore(seen, kSeenSeq) && s.integer(&entry->seq) && entry->seq > 0;
    if (name == "at")
        return !seenBefore(seen, kSeenAt) && s.integer(&entry->madeMs);
    if (name == "beside")
        return !seenBefore(seen, kSeenBeside) && s.stringList(&entry->beside);
    QString* out = name == "pending" ? &entry->pendingId : &entry->shownText;
    const unsigned bit = name == "pending" ? kSeenPending : name == "shown" ? kSeenShown : 0u;
    if (bit == 0 || seenBefore(seen, bit) || !s.string(&text))
        return false;
    *out = QString::fromUtf8(text);
    return true;
}

} // namespace

std::optional<Outbox::Entry> scanPlainEntry(QByteArrayView line) {
    // Qt refuses a line that is not UTF-8 and drops a byte order mark opening a string: the
    // general reader decides those.
    if (!line.endsWith('}') || !line.isValidUtf8() || line.contains("\xEF\xBB\xBF"))
        return std::nullopt;
    Scanner s(line);
    Outbox::Entry entry;
    unsigned seen = 0;
    if (!s.take('{'))
        return std::nullopt;
    for (;;) {
        QByteArrayView name;
        if (!s.string(&name) || !s.take(':'))
            return std::nullopt;
        if (name == "msg")
            break;
        if (!scanHeaderMember(s, name, &entry, &seen) || !s.take(','))
            return std::nullopt;
    }
    const char* body = s.at();
    std::optional<inbox::Message> message = scanMessage(s);
    if (!message || (seen & (kSeenSeq | kSeenAt)) != (kSeenSeq | kSeenAt) || s.at() != line.data() + line.size() - 1)
        return std::nullopt;
    entry.body = QByteArray(body, s.at() - body);
    entry.message = std::move(*message);
    return entry;
}

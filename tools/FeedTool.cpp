#include "tools/FeedTool.h"

#include "model/ListStore.h"
#include "menu/MenuModel.h"
#include "generated/Version.h"
#include "model/Payload.h"
#include "model/RowJson.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kExitRejected = 1;
constexpr int kExitUsage = 2;

struct UsageError {
    QString message;
};

QByteArray readInput(const QString& path, QIODevice* standardInput, const char* what) {
    if (path == QLatin1String("-"))
        return standardInput->readAll();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError{QStringLiteral("cannot read %1 %2: %3")
                             .arg(QLatin1String(what), path, file.errorString())};
    return file.readAll();
}

QJsonObject objectMember(const QJsonObject& obj, const QString& key) {
    const QJsonValue v = obj.value(key);
    if (v.isUndefined())
        return {};
    if (!v.isObject())
        throw UsageError{QStringLiteral("overlay: %1: expected object").arg(key)};
    return v.toObject();
}

// A local overlay as the tool reads it, before it is laid over the feed.
struct Overlay {
    QList<std::pair<QString, bool>> done;
    QList<std::pair<QString, QString>> text;
    QHash<QString, QList<Row>> pendingAdd;
    QHash<QString, QList<OrderEntry>> orderOverride;
};

QHash<QString, QList<Row>> readPendingAdd(const QJsonObject& pending) {
    QHash<QString, QList<Row>> out;
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        const QString path = QStringLiteral("pendingAdd.") + it.key();
        if (!it->isArray())
            throw UsageError{QStringLiteral("overlay: %1: expected array").arg(path)};
        const QJsonArray rows = it->toArray();
        QList<Row>& list = out[it.key()];
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QString rowPath = QStringLiteral("%1[%2]").arg(path).arg(i);
            if (!rows[i].isObject())
                throw UsageError{QStringLiteral("overlay: %1: expected object").arg(rowPath)};
            QString error;
            const auto row = decodeRowText(QJsonDocument(rows[i].toObject()).toJson(), rowPath, &error);
            if (!row)
                throw UsageError{QStringLiteral("overlay: ") + error};
            list.append(*row);
        }
    }
    return out;
}

QHash<QString, QList<OrderEntry>> readOrderOverride(const QJsonObject& order) {
    QHash<QString, QList<OrderEntry>> out;
    for (auto it = order.begin(); it != order.end(); ++it) {
        const QString path = QStringLiteral("orderOverride.") + it.key();
        if (!it->isArray())
            throw UsageError{QStringLiteral("overlay: %1: expected array").arg(path)};
        const QJsonArray entries = it->toArray();
        QList<OrderEntry>& list = out[it.key()];
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const QJsonObject entry = entries[i].toObject();
            const QJsonValue id = entry.value(QStringLiteral("id"));
            const QJsonValue sec = entry.value(QStringLiteral("sec"));
            if (!entries[i].isObject() || !id.isString() || !sec.isString())
                throw UsageError{QStringLiteral("overlay: %1[%2]: expected {\"id\": string, \"sec\": string}")
                                     .arg(path)
                                     .arg(i)};
            list.append(OrderEntry{id.toString(), sec.toString()});
        }
    }
    return out;
}

Overlay loadOverlay(const QByteArray& bytes) {
    Overlay state;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw UsageError{QStringLiteral("overlay: %1 at byte %2")
                             .arg(parseError.errorString())
                             .arg(parseError.offset)};
    if (!doc.isObject())
        throw UsageError{QStringLiteral("overlay: expected object at top level")};
    const QJsonObject top = doc.object();

    const QJsonObject done = objectMember(top, QStringLiteral("localDone"));
    for (auto it = done.begin(); it != done.end(); ++it) {
        if (!it->isBool())
            throw UsageError{QStringLiteral("overlay: localDone.%1: expected boolean").arg(it.key())};
        state.done.append({it.key(), it->toBool()});
    }
    const QJsonObject text = objectMember(top, QStringLiteral("localText"));
    for (auto it = text.begin(); it != text.end(); ++it) {
        if (!it->isString())
            throw UsageError{QStringLiteral("overlay: localText.%1: expected string").arg(it.key())};
        state.text.append({it.key(), it->toString()});
    }
    state.pendingAdd = readPendingAdd(objectMember(top, QStringLiteral("pendingAdd")));
    state.orderOverride = readOrderOverride(objectMember(top, QStringLiteral("orderOverride")));
    return state;
}

// The overlay as the user's changes made after the feed arrived: the chosen list's view with
// them, as the app shows it.
void layOver(const Overlay& overlay, ListStore& store) {
    for (const auto& [id, done] : overlay.done)
        store.setDone(id, done);
    for (const auto& [id, text] : overlay.text)
        store.setText(id, text);
    for (const Row& row : overlay.pendingAdd.value(store.choice()))
        store.addPending(row);
    if (const auto order = overlay.orderOverride.constFind(store.choice()); order != overlay.orderOverride.constEnd())
        store.setOrder(*order);
}

int check(const DecodeResult& decoded, QTextStream& out, QTextStream& err) {
    if (!decoded.payload) {
        err << decoded.error << Qt::endl;
        return kExitRejected;
    }
    const qsizetype mine = decoded.payload->mine_rows.size();
    const qsizetype hers = decoded.payload->hers_rows.size();
    out << QStringLiteral("ok: %1 rows (mine %2, hers %3)").arg(mine + hers).arg(mine).arg(hers)
        << Qt::endl;
    return 0;
}

int view(const QCommandLineParser& parser, const DecodeResult& decoded, QIODevice* standardInput,
         QTextStream& out, QTextStream& err) {
    const QString list = parser.value(QStringLiteral("list"));
    if (list != ListStore::kMine && list != ListStore::kHers)
        throw UsageError{QStringLiteral("--list must be mine or hers")};
    const QDate today = QDate::fromString(parser.value(QStringLiteral("today")), QStringLiteral("yyyy-MM-dd"));
    if (!today.isValid())
        throw UsageError{QStringLiteral("--today must be a date written YYYY-MM-DD")};

    const FixedClock clock(QDateTime(today, QTime(12, 0)));
    ListStore state(clock);
    state.choose(list);
    Overlay overlay;
    if (parser.isSet(QStringLiteral("overlay")))
        overlay = loadOverlay(readInput(parser.value(QStringLiteral("overlay")), standardInput, "overlay"));
    if (!decoded.payload) {
        err << decoded.error << Qt::endl;
        return kExitRejected;
    }
    state.applyFeed(*decoded.payload);
    layOver(overlay, state);
    for (const QString& label : parser.values(QStringLiteral("collapsed"))) {
        if (!state.collapsedCats().contains(label))
            state.toggleCollapse(label);
    }

    if (parser.isSet(QStringLiteral("menu"))) {
        // Exactly what the tray menu lists, from the tray's own menu model.
        for (const QString& line : menuListLines(buildMenuEntries(state, std::nullopt, APP_VERSION)))
            out << line << '\n';
        out.flush();
        return 0;
    }
    QStringList labels;
    for (const QString& label : state.sectionLabels())
        labels << QString::fromUtf8(jsonString(label));
    QStringList rows;
    for (const Row& row : state.displayRows(true))
        rows << QStringLiteral("    ") + QString::fromUtf8(rowJson(row));
    out << "{\"title\": " << QString::fromUtf8(jsonString(state.currentTitle())) << ",\n \"labels\": ["
        << labels.join(QStringLiteral(", ")) << "],\n \"rows\": [";
    if (!rows.isEmpty())
        out << '\n' << rows.join(QStringLiteral(",\n")) << '\n';
    out << "]}" << Qt::endl;
    return 0;
}

} // namespace

int runFeedTool(const QStringList& args, QIODevice* standardInput, QTextStream& out,
                QTextStream& err) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("check or view"));
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("feed file, - for stdin"));
    parser.addOptions({
        {QStringLiteral("list"), QStringLiteral("mine or hers"), QStringLiteral("list")},
        {QStringLiteral("today"), QStringLiteral("today's date"), QStringLiteral("date")},
        {QStringLiteral("overlay"), QStringLiteral("overlay file"), QStringLiteral("file")},
        {QStringLiteral("collapsed"), QStringLiteral("collapsed label"), QStringLiteral("label")},
        {QStringLiteral("menu"), QStringLiteral("print menu lines")},
        {QStringLiteral("version"), QStringLiteral("print the version")},
    });
    try {
        if (!parser.parse(args))
            throw UsageError{parser.errorText()};
        if (parser.isSet(QStringLiteral("version"))) {
            out << "velloa-feed " << APP_VERSION << Qt::endl;
            return 0;
        }
        const QStringList positional = parser.positionalArguments();
        if (positional.size() != 2)
            throw UsageError{QStringLiteral("expected a command and one FILE")};
        const QString& command = positional[0];
        const bool isCheck = command == QLatin1String("check");
        if (!isCheck && command != QLatin1String("view"))
            throw UsageError{QStringLiteral("unknown command: ") + command};
        if (isCheck && (parser.isSet(QStringLiteral("list")) || parser.isSet(QStringLiteral("today")) ||
                        parser.isSet(QStringLiteral("overlay")) ||
                        parser.isSet(QStringLiteral("collapsed")) || parser.isSet(QStringLiteral("menu"))))
            throw UsageError{QStringLiteral("check takes no options")};
        if (!isCheck && (!parser.isSet(QStringLiteral("list")) || !parser.isSet(QStringLiteral("today"))))
            throw UsageError{QStringLiteral("view needs --list and --today")};
        const DecodeResult decoded = decodePayload(readInput(positional[1], standardInput, "feed"));
        return isCheck ? check(decoded, out, err) : view(parser, decoded, standardInput, out, err);
    } catch (const UsageError& e) {
        err << "velloa-feed: " << e.message << Qt::endl;
        return kExitUsage;
    }
}

// velloa-hub: the other party of the app on one machine. Publishes the feed, takes inbox
// messages on the topic, serves the update manifest and release files.
#include "hub/FeedStore.h"
#include "hub/HubRoutes.h"
#include "hub/HubServer.h"
#include "generated/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

const QString kBuiltInTopic = QStringLiteral(VELLOA_DEFAULT_TOPIC);

// The hub holds the topic and every message in memory; a core dump would leave them wherever
// dumps are collected, readable by whoever reads those.
void disableCoreDumps() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    ::prctl(PR_SET_DUMPABLE, 0); // also keeps other processes of the user from attaching
#endif
}

// Connections are capped below the open-file limit, so that the journal, the feed and the
// release files can always still be opened.
int connectionCap(int wanted) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return wanted;
    return int(std::clamp<rlim_t>(files.rlim_cur / 2, 8, rlim_t(wanted)));
}

int refuse(const QString& reason) {
    std::fprintf(stderr, "velloa-hub: %s\n", qPrintable(reason));
    return 1;
}

std::optional<QHostAddress> bindAddress(const QString& text) {
    if (text == QLatin1String("localhost"))
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress address;
    if (!address.setAddress(text))
        return std::nullopt;
    return address;
}

QString urlHost(const QHostAddress& address) {
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return u'[' + address.toString() + u']';
    return address.toString();
}

// The command line's options; their values are read once the parser has processed it.
struct HubOptions {
    QCommandLineOption port;
    QCommandLineOption bind;
    QCommandLineOption topic;
    QCommandLineOption data;
    QCommandLineOption delay;
};

HubOptions describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Publishes the Velloa list feed at /data.json and applies the inbox messages posted to "
        "/TOPIC. Also serves DIR/version.json and the files in DIR/releases/."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port; 0 picks a free one (default %1).")
                                      .arg(QStringLiteral(VELLOA_HUB_PORT)),
                                  QStringLiteral("PORT"), QStringLiteral(VELLOA_HUB_PORT));
    const QCommandLineOption bind(QStringLiteral("bind"),
                                  QStringLiteral("Address to listen on (default 127.0.0.1). Keep "
                                                 "the loopback address behind a reverse proxy."),
                                  QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    // From the environment by preference: a command line is visible to every local user.
    const QCommandLineOption topic(
        QStringLiteral("topic"),
        QStringLiteral("Inbox topic: 29 lower-case letters, digits and hyphens. A shared secret: "
                       "anyone who knows it can change the lists (default: $VELLOA_TOPIC, else "
                       "the built-in one, which is public and only taken on a loopback "
                       "address)."),
        QStringLiteral("TOPIC"));
    const QString defaultData =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/hub");
    const QCommandLineOption data(
        QStringLiteral("data"),
        QStringLiteral("Data folder: data.json, journal.log, version.json, "
                       "releases/ (default %1).")
            .arg(defaultData),
        QStringLiteral("DIR"), defaultData);
    const QCommandLineOption delay(
        QStringLiteral("apply-delay"),
        QStringLiteral("Acknowledge messages at once but apply them only after SECONDS, to watch "
                       "the app's local overlay at work (default 0)."),
        QStringLiteral("SECONDS"), QStringLiteral("0"));
    parser.addOptions({port, bind, topic, data, delay});
    return {port, bind, topic, data, delay};
}

// What the command line asks for, checked.
struct HubSettings {
    uint port = 0;
    QHostAddress address;
    QString bindText; // as given, for messages
    QString topic;
    bool publicTopic = false;
    QString dataDir;
    double delaySeconds = 0;
};

// The topic given on the command line, else in the environment, else the built-in one; empty
// when it is not of the topic form or is the public one on an address others can reach.
QString checkedTopic(const QCommandLineParser& parser, const HubOptions& options,
                     const QHostAddress& address, QString* error) {
    const QString given = parser.isSet(options.topic) ? parser.value(options.topic)
                                                      : qEnvironmentVariable("VELLOA_TOPIC");
    const QString topicName = given.isEmpty() ? kBuiltInTopic : given;
    static const QRegularExpression kTopicForm(QStringLiteral("^[a-z0-9-]{29}$"));
    if (!kTopicForm.match(topicName).hasMatch()) {
        *error = QStringLiteral("--topic must be 29 lower-case letters, digits and hyphens");
        return {};
    }
    // The built-in topic is in the source for anyone to read: fine on this machine only.
    if (topicName == kBuiltInTopic && !address.isLoopback()) {
        *error = QStringLiteral("refusing to listen on %1 with the built-in inbox topic, which "
                                "is public: anyone could change the lists. Give a topic of your "
                                "own in VELLOA_TOPIC (or --topic)")
                     .arg(parser.value(options.bind));
        return {};
    }
    return topicName;
}

std::optional<HubSettings> readSettings(const QCommandLineParser& parser, const HubOptions& options,
                                        QString* error) {
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument; see --help");
        return std::nullopt;
    }
    HubSettings settings;
    bool ok = false;
    settings.port = parser.value(options.port).toUInt(&ok);
    if (!ok || settings.port > 65535) {
        *error = QStringLiteral("--port must be a number from 0 to 65535");
        return std::nullopt;
    }
    settings.bindText = parser.value(options.bind);
    const auto address = bindAddress(settings.bindText);
    if (!address) {
        *error = QStringLiteral("--bind must be an IP address or localhost");
        return std::nullopt;
    }
    settings.address = *address;
    settings.topic = checkedTopic(parser, options, *address, error);
    if (settings.topic.isEmpty())
        return std::nullopt;
    settings.publicTopic = settings.topic == kBuiltInTopic;
    settings.delaySeconds = parser.value(options.delay).toDouble(&ok);
    if (!ok || settings.delaySeconds < 0 || settings.delaySeconds > 86400) {
        *error = QStringLiteral("--apply-delay must be a number of seconds from 0 to 86400");
        return std::nullopt;
    }
    settings.dataDir = parser.value(options.data);
    return settings;
}

// Opens the store, listens and runs the event loop until the process is stopped.
int run(const HubSettings& settings) {
    FeedStore store;
    store.setApplyDelay(std::chrono::milliseconds(qint64(settings.delaySeconds * 1000)));
    QString error;
    if (!store.open(settings.dataDir, &error))
        return refuse(error);

    HubRoutes routes(store, settings.topic, settings.dataDir);
    HubLimits limits;
    limits.maxConnections = connectionCap(limits.maxConnections);
    HubServer server(routes, Clock::system(), limits);
    if (!server.listen(settings.address, quint16(settings.port)))
        return refuse(QStringLiteral("cannot listen on %1:%2: %3")
                          .arg(settings.bindText)
                          .arg(settings.port)
                          .arg(server.errorString()));
    std::printf("velloa-hub listening on http://%s:%u/\n", qPrintable(urlHost(settings.address)),
                unsigned(server.port()));
    std::fflush(stdout);
    if (settings.publicTopic)
        std::fprintf(stderr,
                     "velloa-hub: taking messages at the built-in inbox topic, which is public; "
                     "set VELLOA_TOPIC to a topic of your own before anyone else can reach this "
                     "address\n");
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    disableCoreDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationVersion(APP_VERSION);

    QCommandLineParser parser;
    const HubOptions options = describeOptions(parser);
    parser.process(app);
    QString error;
    const std::optional<HubSettings> settings = readSettings(parser, options, &error);
    if (!settings)
        return refuse(error);
    return run(*settings);
}

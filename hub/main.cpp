// velloa-hub: the other party of the app on one machine. Publishes the feed, takes inbox
// messages on the topic, serves the update manifest and release files.
#include "FeedStore.h"
#include "HubRoutes.h"
#include "HubServer.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
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

} // namespace

int main(int argc, char* argv[]) {
    disableCoreDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationVersion(APP_VERSION);

    QCommandLineParser parser;
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
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument; see --help"));

    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber > 65535)
        return refuse(QStringLiteral("--port must be a number from 0 to 65535"));
    const auto address = bindAddress(parser.value(bind));
    if (!address)
        return refuse(QStringLiteral("--bind must be an IP address or localhost"));
    const QString given =
        parser.isSet(topic) ? parser.value(topic) : qEnvironmentVariable("VELLOA_TOPIC");
    const QString topicName = given.isEmpty() ? kBuiltInTopic : given;
    static const QRegularExpression topicForm(QStringLiteral("^[a-z0-9-]{29}$"));
    if (!topicForm.match(topicName).hasMatch())
        return refuse(QStringLiteral("--topic must be 29 lower-case letters, digits and hyphens"));
    // The built-in topic is in the source for anyone to read: fine on this machine only.
    const bool publicTopic = topicName == kBuiltInTopic;
    if (publicTopic && !address->isLoopback())
        return refuse(QStringLiteral("refusing to listen on %1 with the built-in inbox topic, "
                                     "which is public: anyone could change the lists. Give a "
                                     "topic of your own in VELLOA_TOPIC (or --topic)")
                          .arg(parser.value(bind)));
    const double delaySeconds = parser.value(delay).toDouble(&ok);
    if (!ok || delaySeconds < 0 || delaySeconds > 86400)
        return refuse(QStringLiteral("--apply-delay must be a number of seconds from 0 to 86400"));

    FeedStore store;
    store.setApplyDelay(std::chrono::milliseconds(qint64(delaySeconds * 1000)));
    QString error;
    if (!store.open(parser.value(data), &error))
        return refuse(error);

    HubRoutes routes(store, topicName, parser.value(data));
    HubLimits limits;
    limits.maxConnections = connectionCap(limits.maxConnections);
    HubServer server(routes, Clock::system(), limits);
    if (!server.listen(*address, quint16(portNumber)))
        return refuse(QStringLiteral("cannot listen on %1:%2: %3")
                          .arg(parser.value(bind))
                          .arg(portNumber)
                          .arg(server.errorString()));
    std::printf("velloa-hub listening on http://%s:%u/\n", qPrintable(urlHost(*address)),
                unsigned(server.port()));
    std::fflush(stdout);
    if (publicTopic)
        std::fprintf(stderr,
                     "velloa-hub: taking messages at the built-in inbox topic, which is public; "
                     "set VELLOA_TOPIC to a topic of your own before anyone else can reach this "
                     "address\n");
    return app.exec();
}

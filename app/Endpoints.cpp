#include "app/Endpoints.h"

#include <QUrl>

namespace {

// One configured value and where it came from, for the refusal line.
struct Setting {
    const char* variable;
    const char* cacheVariable;
    QString value;
    bool builtIn = false;

    QString refusal(const QString& rule) const {
        QString line = QStringLiteral("velloa: %1 %2").arg(QLatin1String(variable), rule);
        if (builtIn)
            line += QStringLiteral(" (it is unset, and the built-in default from %1 is used)")
                        .arg(QLatin1String(cacheVariable));
        return line;
    }
};

Setting pick(const QProcessEnvironment& env, const char* variable, const char* cacheVariable,
             const QString& builtIn) {
    const QString name = QLatin1String(variable);
    if (env.contains(name))
        return {variable, cacheVariable, env.value(name)};
    return {variable, cacheVariable, builtIn, true};
}

// Why `text` is no absolute http or https URL with a host; empty when it is one.
QString urlFault(const QString& text) {
    if (text.isEmpty())
        return QStringLiteral("it is empty");
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("it does not parse");
    if (url.scheme().isEmpty())
        return QStringLiteral("it has no scheme");
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return QStringLiteral("it uses ") + url.scheme();
    if (url.host().isEmpty())
        return QStringLiteral("it has no host");
    return {};
}

bool checkUrl(const Setting& setting, QString* error) {
    const QString fault = urlFault(setting.value);
    if (fault.isEmpty())
        return true;
    *error = setting.refusal(QStringLiteral("must be an absolute http or https URL, but ") + fault);
    return false;
}

} // namespace

Endpoints::Defaults Endpoints::builtIn() {
    return {QStringLiteral(VELLOA_DEFAULT_DATA_URL), QStringLiteral(VELLOA_DEFAULT_UPDATE_URL),
            QStringLiteral(VELLOA_DEFAULT_RELAY_URL), QStringLiteral(VELLOA_DEFAULT_TOPIC)};
}

std::optional<Endpoints> Endpoints::fromEnvironment(const QProcessEnvironment& env,
                                                    const Defaults& defaults, QString* error) {
    const Setting data = pick(env, "VELLOA_DATA_URL", "VELLOA_DEFAULT_DATA_URL", defaults.dataUrl);
    const Setting update =
        pick(env, "VELLOA_UPDATE_URL", "VELLOA_DEFAULT_UPDATE_URL", defaults.updateUrl);
    const Setting relay =
        pick(env, "VELLOA_RELAY_URL", "VELLOA_DEFAULT_RELAY_URL", defaults.relayUrl);
    const Setting topic = pick(env, "VELLOA_TOPIC", "VELLOA_DEFAULT_TOPIC", defaults.topic);
    if (!checkUrl(data, error) || !checkUrl(update, error) || !checkUrl(relay, error))
        return std::nullopt;

    // The topic is appended to the relay's path: a query or fragment there would swallow it.
    const QUrl relayUrl(relay.value, QUrl::StrictMode);
    if (relayUrl.hasQuery() || relayUrl.hasFragment()) {
        *error = relay.refusal(QStringLiteral("must not have a query or fragment: the topic is "
                                              "appended to its path"));
        return std::nullopt;
    }
    // Without its slash the topic would run into the host name (or the last path segment) and
    // every message would go somewhere else.
    QString base = relay.value;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');

    if (topic.value.isEmpty()) {
        *error = topic.refusal(QStringLiteral("must not be empty"));
        return std::nullopt;
    }
    if (topic.value.contains(QLatin1Char('/')) || topic.value.contains(QLatin1Char('?')) ||
        topic.value.contains(QLatin1Char('#'))) {
        *error = topic.refusal(QStringLiteral("must not hold \"/\", \"?\" or \"#\""));
        return std::nullopt;
    }
    Endpoints e;
    e.DATA_URL = data.value;
    e.UPDATE_URL = update.value;
    e.NTFY_TOPIC = topic.value;
    e.NTFY_URL = base + topic.value;
    // Spaces, control characters and the like: the feed client would drop every message.
    if (!QUrl(e.NTFY_URL, QUrl::StrictMode).isValid()) {
        *error = topic.refusal(QStringLiteral("holds characters a URL path cannot carry"));
        return std::nullopt;
    }
    return e;
}

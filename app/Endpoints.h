#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <optional>

// Where the app talks to: the list feed, the version manifest and the relay's inbox topic.
// Built-in defaults come from the build configuration; VELLOA_DATA_URL, VELLOA_UPDATE_URL,
// VELLOA_RELAY_URL and VELLOA_TOPIC override them at run time. The topic is a shared secret:
// nothing here ever prints or logs it.
struct Endpoints {
    QString DATA_URL;
    QString UPDATE_URL;
    QString NTFY_TOPIC;
    // Relay base URL (ending in "/") followed directly by the topic, joined once at start-up.
    QString NTFY_URL;

    // The values compiled in, one per variable.
    struct Defaults {
        QString dataUrl;
        QString updateUrl;
        QString relayUrl;
        QString topic;
    };
    static Defaults builtIn();

    // The endpoints from `env` over `defaults`. A variable that is set counts even when empty.
    // The three addresses must be absolute http or https URLs with a host (a relay base URL
    // without a trailing "/" gets one; it may carry no query or fragment, since the topic is
    // appended to its path); the topic must not be empty nor hold "/", "?", "#" or anything a
    // URL path cannot carry. Otherwise returns nothing and sets `error` to the one line to
    // print, which names the variable and never holds the topic.
    static std::optional<Endpoints> fromEnvironment(const QProcessEnvironment& env,
                                                    const Defaults& defaults, QString* error);
};

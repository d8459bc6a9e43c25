#pragma once

#include <QProcessEnvironment>
#include <QString>

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

    static Endpoints fromEnvironment(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
};

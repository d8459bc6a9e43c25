#include "Endpoints.h"

namespace {
QString pick(const QProcessEnvironment& env, const char* name, const char* builtIn) {
    const QString value = env.value(QLatin1String(name));
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}
} // namespace

Endpoints Endpoints::fromEnvironment(const QProcessEnvironment& env) {
    Endpoints e;
    e.DATA_URL = pick(env, "VELLOA_DATA_URL", VELLOA_DEFAULT_DATA_URL);
    e.UPDATE_URL = pick(env, "VELLOA_UPDATE_URL", VELLOA_DEFAULT_UPDATE_URL);
    e.NTFY_TOPIC = pick(env, "VELLOA_TOPIC", VELLOA_DEFAULT_TOPIC);
    e.NTFY_URL = pick(env, "VELLOA_RELAY_URL", VELLOA_DEFAULT_RELAY_URL) + e.NTFY_TOPIC;
    return e;
}

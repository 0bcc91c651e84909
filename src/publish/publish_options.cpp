#include "publish/publish_options.h"

#include <QUrl>

namespace pondara {

namespace {

// Topic names may not hold wildcards, and each level needs a name.
bool valid_prefix(const QString& prefix)
{
    if (prefix.isEmpty() || prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return false;
    return !prefix.split(QLatin1Char('/')).contains(QString());
}

QString read_url(const QString& text, PublishOptions& options)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("mqtt") || url.host().isEmpty())
        return QStringLiteral("--mqtt needs mqtt://HOST[:PORT], not \"%1\"").arg(text);
    if (!url.userInfo().isEmpty())
        return QStringLiteral("--mqtt takes no user or password: use --mqtt-user and PONDARA_MQTT_PASSWORD");
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return QStringLiteral("--mqtt takes no path: use --mqtt-prefix");
    if (url.port() == 0)
        return QStringLiteral("--mqtt: port 0 is not a port");
    options.broker.host = url.host();
    options.broker.port = url.port(1883);
    options.enabled = true;
    return {};
}

}  // namespace

PublishOptions read_publish_options(const QStringList& arguments, const QString& password, const QString& host_name,
                                    qint64 pid)
{
    PublishOptions options;
    bool prefix_given = false;
    for (qsizetype i = 1; i < arguments.size() && options.error.isEmpty(); ++i) {
        QString name = arguments[i];
        if (!name.startsWith(QLatin1String("--mqtt")))
            continue;
        if (name == QLatin1String("--mqtt-commands")) {
            options.commands = true;
            continue;
        }
        std::optional<QString> value;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        const bool known = name == QLatin1String("--mqtt") || name == QLatin1String("--mqtt-prefix")
                           || name == QLatin1String("--mqtt-user");
        if (!known) {
            options.error = name == QLatin1String("--mqtt-password")
                                ? QStringLiteral("the password is read from PONDARA_MQTT_PASSWORD, never from the "
                                                 "command line")
                                : QStringLiteral("unknown option %1").arg(name);
            break;
        }
        if (!value && i + 1 < arguments.size())
            value = arguments[++i];
        if (!value) {
            options.error = QStringLiteral("%1 needs a value").arg(name);
        } else if (name == QLatin1String("--mqtt")) {
            options.error = read_url(*value, options);
        } else if (name == QLatin1String("--mqtt-prefix")) {
            options.prefix = *value;
            prefix_given = true;
            if (!valid_prefix(options.prefix))
                options.error = QStringLiteral("--mqtt-prefix \"%1\": topic levels without + # or empty ones")
                                    .arg(options.prefix);
        } else {
            options.broker.user = *value;
        }
    }
    if (options.error.isEmpty() && !options.enabled
        && (prefix_given || options.commands || !options.broker.user.isEmpty()))
        options.error = QStringLiteral("--mqtt-prefix, --mqtt-user and --mqtt-commands need --mqtt");
    if (!prefix_given)
        options.prefix = QStringLiteral("pondara/") + (host_name.isEmpty() ? QStringLiteral("localhost") : host_name);
    if (!options.broker.user.isEmpty())
        options.broker.password = password;
    options.broker.client_id = QStringLiteral("pondara-%1-%2").arg(host_name).arg(pid);
    return options;
}

}  // namespace pondara

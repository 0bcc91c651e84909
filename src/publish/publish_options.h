#pragma once

#include "publish/mqtt_client.h"

#include <QString>
#include <QStringList>

namespace pondara {

// What the command line asks of the publisher. Off unless --mqtt is given.
struct PublishOptions {
    bool enabled = false;
    MqttSettings broker;
    QString prefix;  // the topics' root, without a trailing slash
    bool commands = false;  // takes remote zero on <station>/cmd/zero
    QString error;  // why the arguments cannot be used; empty when they can
};

// Reads --mqtt mqtt://HOST[:PORT], --mqtt-prefix P, --mqtt-user U and
// --mqtt-commands (each value also as --option=value) from `arguments`,
// which start with the program's name and hold no Qt option any more;
// other arguments are left alone. The password comes from `password` (the
// environment), never from the command line. The prefix defaults to
// "pondara/<host_name>"; the client identifier names the host and `pid`, so
// that two programs on one machine do not push each other off the broker.
PublishOptions read_publish_options(const QStringList& arguments, const QString& password, const QString& host_name,
                                    qint64 pid);

}  // namespace pondara

#pragma once

#include <QString>

class QTemporaryDir;

namespace pondara::test {

// Points XDG_RUNTIME_DIR at `dir` (owner-only, as Qt requires), so virtual
// ports of a test live there. Call before anything asks QStandardPaths.
bool use_runtime_dir(const QTemporaryDir& dir);

// Makes virtual port `number` a link to `target`, replacing an earlier link.
bool publish_virtual_port(int number, const QString& target);
bool remove_virtual_port(int number);

}  // namespace pondara::test

#pragma once

#include <QString>

namespace pondara {

// The help window's text: 58 lines with CR LF line ends, laid out with an
// empty line after every line but the second and the last.
QString help_text();

}  // namespace pondara

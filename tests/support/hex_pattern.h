#pragma once

#include <QByteArray>
#include <QString>

namespace pondara::test {

// Compares received bytes with a hand-written pattern such as
// "?? 22 01 02 03 00 03 E8 13", where "??" stands for any byte. Returns the
// received bytes as spaced upper-case hex with "??" put where the pattern
// has it, so QCOMPARE(masked_hex(bytes, pattern), QString(pattern)) shows
// both in full when they differ.
QString masked_hex(const QByteArray& bytes, const char* pattern);

}  // namespace pondara::test

#include "serial/port_resolver.h"

#include "platform/virtual_port.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <limits>

namespace pondara {

namespace {

constexpr int highest_number = std::numeric_limits<std::int16_t>::max();

// The device families in numbering order. UARTs are listed only when the
// kernel reports hardware behind them: some kernels create ttyS entries for
// every possible UART, and those ghosts have type 0. A ttyS without a type
// file is a ghost as well; a ttyAMA without one is real (its driver may not
// publish the file).
struct Family {
    const char* prefix;
    bool uart;
    bool needs_type;
};
constexpr std::array<Family, 4> families {{
    {"ttyS", true, true},
    {"ttyAMA", true, false},
    {"ttyUSB", false, false},
    {"ttyACM", false, false},
}};

struct Entry {
    std::size_t family;
    qulonglong number;
    QString name;
};

// A path's target with every link resolved, or empty when it leads nowhere.
QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

bool exists_as_entry(const QString& path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString kind_of(const QString& path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    if (S_ISCHR(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("a regular file");
    if (S_ISBLK(st.st_mode))
        return QStringLiteral("a block device");
    return QStringLiteral("not a character device");
}

OpenFailure not_a_device(const QString& path, const QString& detail)
{
    return {OpenFailure::Reason::not_a_device, path, detail};
}

}  // namespace

PortResolver::Roots PortResolver::system_roots()
{
    return {virtual_port_dir(), QStringLiteral("/dev"), QStringLiteral("/sys/class/tty")};
}

PortResolver::PortResolver(Roots roots) : m_roots(std::move(roots)) { }

QString PortResolver::virtual_link(int number) const
{
    return m_roots.virtual_dir + QStringLiteral("/com") + QString::number(number);
}

QList<int> PortResolver::virtual_numbers() const
{
    static const QRegularExpression link_name(QStringLiteral("^com([1-9][0-9]{0,4})$"));
    QList<int> numbers;
    const QStringList names
        = QDir(m_roots.virtual_dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = link_name.match(name);
        if (!match.hasMatch())
            continue;
        const int number = match.captured(1).toInt();
        if (number <= highest_number)
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

bool PortResolver::uart_present(const QString& name, bool needs_type) const
{
    QFile type_file(m_roots.sys_tty + QLatin1Char('/') + name + QStringLiteral("/type"));
    if (!type_file.open(QIODevice::ReadOnly))
        return !needs_type;
    bool ok = false;
    const int type = QString::fromLatin1(type_file.readAll()).trimmed().toInt(&ok);
    return !ok || type != 0;
}

QStringList PortResolver::machine_ports() const
{
    static const QRegularExpression device_name(QStringLiteral("^(tty[A-Za-z]+?)([0-9]+)$"));
    std::vector<Entry> entries;
    const QStringList names = QDir(m_roots.dev).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = device_name.match(name);
        if (!match.hasMatch())
            continue;
        const QString prefix = match.captured(1);
        const auto family = std::find_if(families.begin(), families.end(),
                                         [&](const Family& f) { return prefix == QLatin1String(f.prefix); });
        if (family == families.end())
            continue;
        if (family->uart && !uart_present(name, family->needs_type))
            continue;
        entries.push_back({static_cast<std::size_t>(family - families.begin()), match.captured(2).toULongLong(), name});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.family != b.family)
            return a.family < b.family;
        if (a.number != b.number)
            return a.number < b.number;
        return a.name < b.name;  // ttyS1 and ttyS01
    });
    QStringList paths;
    for (const Entry& entry : entries)
        paths.append(m_roots.dev + QLatin1Char('/') + entry.name);
    return paths;
}

QStringList PortResolver::mapping() const
{
    const QStringList machine = machine_ports();
    const QList<int> virtuals = virtual_numbers();
    const int last = std::max(static_cast<int>(machine.size()), virtuals.isEmpty() ? 0 : virtuals.last());
    QStringList lines;
    for (int number = 1; number <= last; ++number) {
        const QString head = QString::number(number) + QStringLiteral(" = ");
        if (virtuals.contains(number)) {
            const QString link = virtual_link(number);
            const QString device = canonical(link);
            QString target;
            if (device.isEmpty())
                target = QFileInfo(link).symLinkTarget() + QStringLiteral(" (missing)");
            else if (const QString kind = kind_of(device); !kind.isEmpty())
                target = device + QStringLiteral(" (not a device)");
            else
                target = device;
            lines.append(head + link + QStringLiteral(" \u2192 ") + target);
        } else if (number <= machine.size()) {
            lines.append(head + machine.at(number - 1));
        }
    }
    return lines;
}

std::variant<PortTarget, OpenFailure> PortResolver::resolve(int number) const
{
    PortTarget target;
    if (number >= 1 && number <= highest_number && exists_as_entry(virtual_link(number))) {
        target.path = virtual_link(number);
        target.is_virtual = true;
    } else {
        const QStringList machine = machine_ports();
        if (number < 1 || number > machine.size()) {
            const QStringList lines = mapping();
            return OpenFailure {OpenFailure::Reason::no_such_port,
                                {},
                                lines.isEmpty() ? QStringLiteral("No serial ports were found.")
                                                : lines.join(QLatin1Char('\n'))};
        }
        target.path = machine.at(number - 1);
    }

    target.device = canonical(target.path);
    if (target.device.isEmpty()) {
        const QString leads_to = QFileInfo(target.path).symLinkTarget();
        return not_a_device(target.path, leads_to.isEmpty() ? target.path + QStringLiteral(" does not exist")
                                                            : target.path + QStringLiteral(" leads to ") + leads_to
                                                                  + QStringLiteral(", which does not exist"));
    }
    if (const QString kind = kind_of(target.device); !kind.isEmpty())
        return not_a_device(target.device, target.device + QStringLiteral(" is ") + kind);
    return target;
}

}  // namespace pondara

#include "helperproto/limits.h"

#include <QStringList>

namespace Tavrix::HelperProto {

namespace {

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool hasLineBreakOrNul(const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\0') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return true;
    }
    return false;
}

bool isDecimal(const QString &text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    for (const QChar c : text) {
        if (!isAsciiDigit(c))
            return false;
    }
    // "010" means 8 to some parsers and 10 to others: refuse what reads two ways.
    return text.size() == 1 || text.at(0) != QLatin1Char('0');
}

bool isIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (!isDecimal(part, 3) || part.toInt() > 255)
            return false;
    }
    return true;
}

bool isHexGroup(const QString &text)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    for (const QChar c : text) {
        if (!isAsciiDigit(c) && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) &&
            !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    }
    return true;
}

bool isIpv6(const QString &text)
{
    if (text.size() < 2 || text.size() > 45)
        return false;
    const int gap = text.indexOf(QStringLiteral("::"));
    if (gap >= 0 && text.indexOf(QStringLiteral("::"), gap + 1) >= 0)
        return false;
    // Each side of the "::" gap is a list of groups; the last may be an IPv4 address.
    const QString head = gap >= 0 ? text.left(gap) : text;
    const QString tail = gap >= 0 ? text.mid(gap + 2) : QString();
    const QString sides[2] = {head, tail};
    // Only the very last group of the address may be written as IPv4.
    const int lastSide = gap >= 0 ? 1 : 0;
    int groups = 0;
    for (int s = 0; s < 2; ++s) {
        if (sides[s].isEmpty())
            continue;
        const QStringList parts = sides[s].split(QLatin1Char(':'));
        for (int i = 0; i < parts.size(); ++i) {
            const bool last = s == lastSide && i == parts.size() - 1;
            if (last && parts.at(i).contains(QLatin1Char('.'))) {
                if (!isIpv4(parts.at(i)))
                    return false;
                groups += 2;
            } else if (isHexGroup(parts.at(i))) {
                ++groups;
            } else {
                return false;
            }
        }
    }
    return gap >= 0 ? groups <= 7 : groups == 8;
}

} // namespace

bool isValidUserName(const QString &name)
{
    if (name.isEmpty() || name.size() > maxUserNameLength)
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            return false;
    }
    return true;
}

bool isValidPassword(const QString &password)
{
    return !password.isEmpty() && password.size() <= maxPasswordLength && !hasLineBreakOrNul(password);
}

bool isValidInterfaceName(const QString &name)
{
    if (name.isEmpty() || name.size() > maxInterfaceNameLength)
        return false;
    // A leading letter or digit: never "-x" (an option) nor "." / ".." (a path).
    if (!name.at(0).isLetterOrNumber() || name.at(0).unicode() > 127)
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
                           u == '-' || u == '.';
        if (!plain)
            return false;
    }
    return true;
}

bool isValidIpAddress(const QString &address)
{
    return isIpv4(address) || isIpv6(address);
}

bool isValidCidr(const QString &cidr)
{
    const int slash = cidr.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    const QString address = cidr.left(slash);
    const QString prefix = cidr.mid(slash + 1);
    if (!isDecimal(prefix, 3))
        return false;
    if (isIpv4(address))
        return prefix.toInt() <= 32;
    return isIpv6(address) && prefix.toInt() <= 128;
}

bool isValidHostName(const QString &name)
{
    if (name.isEmpty() || name.size() > maxHostNameLength)
        return false;
    const QString bare = name.endsWith(QLatin1Char('.')) ? name.chopped(1) : name;
    for (const QString &label : bare.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            const ushort u = c.unicode();
            if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-'))
                return false;
        }
    }
    // All digits and dots is an IPv4 address or nothing, never a name.
    bool numeric = true;
    for (const QChar c : bare)
        numeric = numeric && (isAsciiDigit(c) || c == QLatin1Char('.'));
    return !numeric || isIpv4(bare);
}

bool isValidPort(const QString &port)
{
    return isDecimal(port, 5) && port.toInt() >= 1 && port.toInt() <= 65535;
}

bool isValidEndpoint(const QString &endpoint)
{
    if (endpoint.size() > maxHostNameLength + 8)
        return false;
    if (endpoint.startsWith(QLatin1Char('['))) {
        const int close = endpoint.indexOf(QStringLiteral("]:"));
        return close > 1 && isIpv6(endpoint.mid(1, close - 1)) && isValidPort(endpoint.mid(close + 2));
    }
    const int colon = endpoint.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QString host = endpoint.left(colon);
    return (isIpv4(host) || isValidHostName(host)) && isValidPort(endpoint.mid(colon + 1));
}

} // namespace Tavrix::HelperProto

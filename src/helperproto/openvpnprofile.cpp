#include "helperproto/openvpnprofile.h"

#include <QSet>
#include <QStringList>

#include <cstring>

#include "helperproto/limits.h"

namespace Tavrix::HelperProto {

namespace {

using Check = bool (*)(const QStringList &args);

bool isNumber(const QString &text)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    }
    return true;
}

bool allNumbers(const QStringList &args)
{
    for (const QString &arg : args) {
        if (!isNumber(arg))
            return false;
    }
    return true;
}

bool isOneOf(const QString &text, std::initializer_list<const char *> values)
{
    for (const char *value : values) {
        if (text == QLatin1String(value))
            return true;
    }
    return false;
}

// Whether c is one of the ASCII characters of set (never NUL).
bool inSet(QChar c, const char *set)
{
    const ushort u = c.unicode();
    return u > 0 && u < 128 && std::strchr(set, char(u));
}

bool hasOnly(const QString &text, const char *extra, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!plain && !inSet(c, extra))
            return false;
    }
    return true;
}

bool isProto(const QString &text)
{
    return isOneOf(text, {"udp", "udp4", "udp6", "tcp", "tcp4", "tcp6", "tcp-client", "tcp4-client", "tcp6-client"});
}

bool isCipherList(const QString &text)
{
    return hasOnly(text, "-_:+!@=,.", 512);
}

bool none(const QStringList &args)
{
    return args.isEmpty();
}

bool numbers(const QStringList &args)
{
    return allNumbers(args);
}

// A tun device only, by a plain name: "tun" or "tun0".."tun999" (OpenVPN takes the kind from it).
bool devArgs(const QStringList &args)
{
    const QString &name = args.at(0);
    return name == QLatin1String("tun") ||
           (name.startsWith(QLatin1String("tun")) && name.size() <= 6 && isNumber(name.mid(3)));
}

bool devTypeArgs(const QStringList &args)
{
    return args.at(0) == QLatin1String("tun");
}

bool topologyArgs(const QStringList &args)
{
    return isOneOf(args.at(0), {"subnet", "net30", "p2p"});
}

bool protoArgs(const QStringList &args)
{
    return isProto(args.at(0));
}

bool remoteArgs(const QStringList &args)
{
    const QString &host = args.at(0);
    if (!isValidIpAddress(host) && !isValidHostName(host))
        return false;
    if (args.size() >= 2 && !isValidPort(args.at(1)))
        return false;
    return args.size() < 3 || isProto(args.at(2));
}

bool resolvRetryArgs(const QStringList &args)
{
    return args.at(0) == QLatin1String("infinite") || isNumber(args.at(0));
}

bool remoteCertTlsArgs(const QStringList &args)
{
    return args.at(0) == QLatin1String("server");
}

bool verifyNameArgs(const QStringList &args)
{
    // The only free text of a profile: a certificate subject, which may hold spaces, commas and
    // letters of any script.
    const QString &name = args.at(0);
    if (name.isEmpty() || name.size() > 256)
        return false;
    for (const QChar c : name) {
        if (!c.isLetterOrNumber() && !inSet(c, " -_.,=:@/*+()&"))
            return false;
    }
    return args.size() < 2 || isOneOf(args.at(1), {"subject", "name", "name-prefix"});
}

bool cipherArgs(const QStringList &args)
{
    return isCipherList(args.at(0));
}

bool tlsVersionArgs(const QStringList &args)
{
    if (!isOneOf(args.at(0), {"1.0", "1.1", "1.2", "1.3"}))
        return false;
    return args.size() < 2 || args.at(1) == QLatin1String("or-highest");
}

bool keyDirectionArgs(const QStringList &args)
{
    return isOneOf(args.at(0), {"0", "1"});
}

// Compression over an encrypted tunnel leaks what the traffic holds: only "off" forms pass.
bool compLzoArgs(const QStringList &args)
{
    return args.at(0) == QLatin1String("no");
}

bool compressArgs(const QStringList &args)
{
    return args.isEmpty() || isOneOf(args.at(0), {"stub", "stub-v2"});
}

bool allowCompressionArgs(const QStringList &args)
{
    return args.at(0) == QLatin1String("no");
}

bool authRetryArgs(const QStringList &args)
{
    return isOneOf(args.at(0), {"none", "nointeract", "interact"});
}

bool verbArgs(const QStringList &args)
{
    return isNumber(args.at(0)) && args.at(0).toInt() <= 11;
}

bool mssfixArgs(const QStringList &args)
{
    if (args.isEmpty())
        return true;
    return isNumber(args.at(0)) && (args.size() < 2 || isOneOf(args.at(1), {"mtu", "fixed"}));
}

bool fragmentArgs(const QStringList &args)
{
    return isNumber(args.at(0)) && (args.size() < 2 || args.at(1) == QLatin1String("mtu"));
}

bool redirectGatewayArgs(const QStringList &args)
{
    // Routing flags only: the tunnel takes the traffic, which is what the user connects for.
    for (const QString &flag : args) {
        if (!isOneOf(flag, {"local", "autolocal", "def1", "bypass-dhcp", "bypass-dns", "block-local", "ipv6", "!ipv4"}))
            return false;
    }
    return true;
}

struct Rule
{
    const char *name;
    int minArgs;
    int maxArgs;
    Check check;
};

// Client directives a profile may hold, with the values each may take. Everything else is refused.
const Rule rules[] = {
    {"client", 0, 0, none},
    {"dev", 1, 1, devArgs},
    {"dev-type", 1, 1, devTypeArgs},
    {"topology", 1, 1, topologyArgs},
    {"proto", 1, 1, protoArgs},
    {"remote", 1, 3, remoteArgs},
    {"remote-random", 0, 0, none},
    {"remote-random-hostname", 0, 0, none},
    {"resolv-retry", 1, 1, resolvRetryArgs},
    {"nobind", 0, 0, none},
    {"persist-key", 0, 0, none},
    {"persist-tun", 0, 0, none},
    {"remote-cert-tls", 1, 1, remoteCertTlsArgs},
    {"verify-x509-name", 1, 2, verifyNameArgs},
    {"cipher", 1, 1, cipherArgs},
    {"data-ciphers", 1, 1, cipherArgs},
    {"data-ciphers-fallback", 1, 1, cipherArgs},
    {"ncp-ciphers", 1, 1, cipherArgs},
    {"ncp-disable", 0, 0, none},
    {"auth", 1, 1, cipherArgs},
    {"tls-client", 0, 0, none},
    {"tls-version-min", 1, 2, tlsVersionArgs},
    {"tls-version-max", 1, 1, tlsVersionArgs},
    {"tls-cipher", 1, 1, cipherArgs},
    {"tls-ciphersuites", 1, 1, cipherArgs},
    {"tls-groups", 1, 1, cipherArgs},
    {"ecdh-curve", 1, 1, cipherArgs},
    {"key-direction", 1, 1, keyDirectionArgs},
    {"comp-lzo", 1, 1, compLzoArgs},
    {"compress", 0, 1, compressArgs},
    {"allow-compression", 1, 1, allowCompressionArgs},
    {"auth-user-pass", 0, 0, none},
    {"auth-nocache", 0, 0, none},
    {"auth-retry", 1, 1, authRetryArgs},
    {"verb", 1, 1, verbArgs},
    {"mute", 1, 1, numbers},
    {"mute-replay-warnings", 0, 0, none},
    {"reneg-sec", 1, 2, numbers},
    {"reneg-bytes", 1, 1, numbers},
    {"reneg-pkts", 1, 1, numbers},
    {"keepalive", 2, 2, numbers},
    {"ping", 1, 1, numbers},
    {"ping-restart", 1, 1, numbers},
    {"ping-exit", 1, 1, numbers},
    {"ping-timer-rem", 0, 0, none},
    {"connect-retry", 1, 2, numbers},
    {"connect-retry-max", 1, 1, numbers},
    {"connect-timeout", 1, 1, numbers},
    {"server-poll-timeout", 1, 1, numbers},
    {"hand-window", 1, 1, numbers},
    {"tran-window", 1, 1, numbers},
    {"mssfix", 0, 2, mssfixArgs},
    {"tun-mtu", 1, 1, numbers},
    {"tun-mtu-extra", 1, 1, numbers},
    {"link-mtu", 1, 1, numbers},
    {"fragment", 1, 2, fragmentArgs},
    {"sndbuf", 1, 1, numbers},
    {"rcvbuf", 1, 1, numbers},
    {"float", 0, 0, none},
    {"explicit-exit-notify", 0, 1, numbers},
    {"pull", 0, 0, none},
    {"redirect-gateway", 0, 8, redirectGatewayArgs},
};

const Rule *ruleFor(const QString &name)
{
    for (const Rule &rule : rules) {
        if (name == QLatin1String(rule.name))
            return &rule;
    }
    return nullptr;
}

// Inline blocks and the PEM labels their content must carry.
struct Block
{
    const char *name;
    int maxPems;
    std::initializer_list<const char *> labels;
};

const Block blocks[] = {
    {"ca", 64, {"CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"}},
    {"extra-certs", 64, {"CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"}},
    {"cert", 16, {"CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"}},
    {"key", 1, {"PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY", "ENCRYPTED PRIVATE KEY"}},
    {"tls-auth", 1, {"OpenVPN Static key V1"}},
    {"tls-crypt", 1, {"OpenVPN Static key V1"}},
    {"tls-crypt-v2", 1, {"OpenVPN tls-crypt-v2 client key"}},
};

const Block *blockFor(const QString &name)
{
    for (const Block &block : blocks) {
        if (name == QLatin1String(block.name))
            return &block;
    }
    return nullptr;
}

QSet<QString> wordsOf(const char *text)
{
    const QStringList words = QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return QSet<QString>(words.cbegin(), words.cend());
}

// Directives that run programs, load code, open files or sockets, or change who the engine
// runs as: named in the refusal so the user (and support) can see what the profile wanted.
const QSet<QString> &dangerous()
{
    static const QSet<QString> names =
        wordsOf("plugin management providers provider-path engine script-security up down up-delay up-restart "
                "down-pre route-up route-pre-down ipchange learn-address client-connect client-disconnect "
                "client-crresponse tls-verify tls-export-cert auth-user-pass-verify setenv setenv-safe log "
                "log-append status status-version writepid config cd chroot daemon syslog inetd user group "
                "iproute tmp-dir askpass crl-verify capath pkcs12 pkcs11-providers secret dh "
                "http-proxy-user-pass dev-node mktun rmtun genkey replay-persist ifconfig-pool-persist "
                "client-config-dir port-share mlock nice echo ignore-unknown-option");
    return names;
}

// Known OpenVPN directives a client profile of ours has no use for.
const QSet<QString> &unused()
{
    static const QSet<QString> names =
        wordsOf("ifconfig ifconfig-ipv6 ifconfig-noexec ifconfig-nowarn route route-ipv6 route-noexec "
                "route-nopull route-delay route-gateway route-metric dhcp-option dns pull-filter http-proxy "
                "http-proxy-option socks-proxy server server-bridge mode tls-server push local port lport rport "
                "bind lladdr tap tun-ipv6 peer-fingerprint auth-token auth-token-user static-challenge "
                "keying-material-exporter remap-usr1 suppress-timestamps machine-readable-output disable-dco "
                "pkcs11-id cryptoapicert management-external-key management-external-cert block-ipv6 "
                "redirect-private auth-gen-token connection route-method register-dns ip-win32 tap-sleep win-sys");
    return names;
}

// Hyphenated lower-case words, each short with at most one trailing digit ("route-pre-down",
// "tls-crypt-v2"): what a directive looks like and a run of Base64 or hex key text does not.
bool looksLikeDirectiveName(const QString &name)
{
    if (name.size() > 32 || !name.contains(QLatin1Char('-')))
        return false;
    for (const QString &part : name.split(QLatin1Char('-'))) {
        int letters = 0;
        while (letters < part.size() && part.at(letters).unicode() >= 'a' && part.at(letters).unicode() <= 'z')
            ++letters;
        const bool digit =
            part.size() == letters + 1 && part.at(letters).unicode() >= '0' && part.at(letters).unicode() <= '9';
        if (letters == 0 || letters > 10 || (part.size() != letters && !digit))
            return false;
    }
    return true;
}

bool isNameable(const QString &name)
{
    return ruleFor(name) || dangerous().contains(name) || unused().contains(name) || looksLikeDirectiveName(name);
}

// What the user is told a refused directive is; the name itself only when it cannot be a
// piece of key material (a known directive, or one that looks like a directive).
QString refusedDirective(const QString &name, int line)
{
    const bool nameable = looksLikeDirectiveName(name);
    if (dangerous().contains(name) ||
        (nameable && (name.startsWith(QLatin1String("management-")) || name.endsWith(QLatin1String("-up")) ||
                      name.endsWith(QLatin1String("-down")))))
        return QStringLiteral("\"%1\" on line %2 would run a program, load code or touch files, which this client "
                              "never allows")
            .arg(name)
            .arg(line);
    if (unused().contains(name) || nameable)
        return QStringLiteral("\"%1\" on line %2 is not an option this client accepts from a server")
            .arg(name)
            .arg(line);
    return QStringLiteral("line %1 holds a directive this client does not know").arg(line);
}

// The words of one directive line as OpenVPN splits them, or an error. Quotes group words;
// backslashes and quotes inside words are refused: OpenVPN reads them as escapes, and a rebuilt
// line must mean exactly one thing.
bool splitLine(const QString &line, QStringList *words, QString *problem)
{
    int i = 0;
    const int n = line.size();
    while (i < n) {
        const QChar c = line.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('#') || c == QLatin1Char(';'))
            break;
        QString word;
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const int close = line.indexOf(c, i + 1);
            if (close < 0) {
                *problem = QStringLiteral("an unclosed quote");
                return false;
            }
            word = line.mid(i + 1, close - i - 1);
            i = close + 1;
            if (i < n && line.at(i) != QLatin1Char(' ') && line.at(i) != QLatin1Char('\t')) {
                *problem = QStringLiteral("a quote in the middle of a word");
                return false;
            }
        } else {
            const int start = i;
            while (i < n && line.at(i) != QLatin1Char(' ') && line.at(i) != QLatin1Char('\t'))
                ++i;
            word = line.mid(start, i - start);
        }
        if (word.contains(QLatin1Char('\\')) || word.contains(QLatin1Char('"')) || word.contains(QLatin1Char('\''))) {
            *problem = QStringLiteral("a backslash or quote");
            return false;
        }
        words->append(word);
    }
    return true;
}

QString quotedIfNeeded(const QString &word)
{
    if (word.contains(QLatin1Char(' ')) || word.contains(QLatin1Char('\t')) || word.startsWith(QLatin1Char('#')) ||
        word.startsWith(QLatin1Char(';')) || word.startsWith(QLatin1Char('<')))
        return QLatin1Char('"') + word + QLatin1Char('"');
    return word;
}

bool isBase64Line(const QString &line)
{
    return hasOnly(line, "+/=", 128);
}

// The PEM objects of an inline block, rebuilt: anything around them (a certificate's text
// dump, comments of a static key file) is dropped; headers and foreign labels are refused.
bool rebuildPem(const Block &block, const QStringList &lines, QString *out)
{
    QString label;
    int count = 0;
    int bodyLines = 0;
    for (const QString &line : lines) {
        if (label.isEmpty()) {
            if (!line.startsWith(QLatin1String("-----BEGIN ")))
                continue;
            if (!line.endsWith(QLatin1String("-----")) || line.size() < 17)
                return false;
            label = line.mid(11, line.size() - 16);
            bool known = false;
            for (const char *allowed : block.labels)
                known = known || label == QLatin1String(allowed);
            if (!known || ++count > block.maxPems)
                return false;
            *out += QLatin1String("-----BEGIN ") + label + QLatin1String("-----\n");
            bodyLines = 0;
        } else if (line == QLatin1String("-----END ") + label + QLatin1String("-----")) {
            if (bodyLines == 0)
                return false;
            *out += line + QLatin1Char('\n');
            label.clear();
        } else {
            if (!isBase64Line(line))
                return false;
            *out += line + QLatin1Char('\n');
            ++bodyLines;
        }
    }
    return label.isEmpty() && count > 0;
}

const QString prefix = QStringLiteral("The server's OpenVPN profile was refused: ");

// Enough to see why a connect fails; more shows packets and keys.
constexpr int maxVerb = 4;

OpenVpnProfileCheck refuse(const QString &detail)
{
    OpenVpnProfileCheck check;
    check.error = prefix + detail + QLatin1Char('.');
    return check;
}

// On Windows it keeps DNS queries from leaving outside the tunnel; OpenVPN elsewhere refuses the
// whole profile over it, and there the helper's firewall does the same job.
#ifdef Q_OS_WIN
constexpr bool keepsWindowsOnlyDirectives = true;
#else
constexpr bool keepsWindowsOnlyDirectives = false;
#endif

} // namespace

OpenVpnProfileCheck checkOpenVpnProfile(const QString &text)
{
    if (text.size() > maxProfileSize)
        return refuse(QStringLiteral("it is larger than %1 KiB").arg(maxProfileSize / 1024));
    if (text.contains(QLatin1Char('\0')))
        return refuse(QStringLiteral("it contains a NUL character"));

    QStringList lines = text.split(QLatin1Char('\n'));
    QString out;
    QSet<QString> blocksSeen;
    QSet<QString> blocksNamed;
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QString line = lines.at(index);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // OpenVPN reads a lone CR as a blank, this parser could read it as a line end: no
        // character may mean two things.
        for (const QChar c : line) {
            if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
                return refuse(QStringLiteral("line %1 contains a control character").arg(number));
            if (c.unicode() == 0x7f || c.category() == QChar::Separator_Line ||
                c.category() == QChar::Separator_Paragraph)
                return refuse(QStringLiteral("line %1 contains a control character").arg(number));
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.size() > maxLineLength)
            return refuse(QStringLiteral("line %1 is longer than %2 characters").arg(number).arg(maxLineLength));

        if (line.startsWith(QLatin1Char('<'))) {
            const bool tag = line.endsWith(QLatin1Char('>')) && !line.startsWith(QLatin1String("</"));
            const QString name = tag ? line.mid(1, line.size() - 2) : QString();
            const Block *block = blockFor(name);
            if (!block)
                return refuse(
                    isNameable(name)
                        ? QStringLiteral("the inline block <%1> on line %2 is not allowed").arg(name).arg(number)
                        : QStringLiteral("line %1 holds an inline block this client does not know").arg(number));
            if (blocksSeen.contains(name))
                return refuse(QStringLiteral("the inline block <%1> appears twice").arg(name));
            blocksSeen.insert(name);
            const QString close = QLatin1String("</") + name + QLatin1Char('>');
            QStringList content;
            int size = 0;
            bool closed = false;
            while (++index < lines.size()) {
                QString inner = lines.at(index);
                if (inner.endsWith(QLatin1Char('\r')))
                    inner.chop(1);
                inner = inner.trimmed();
                if (inner == close) {
                    closed = true;
                    break;
                }
                size += inner.size() + 1;
                if (size > maxInlineBlockSize)
                    return refuse(QStringLiteral("the inline block <%1> on line %2 is larger than %3 KiB")
                                      .arg(name)
                                      .arg(number)
                                      .arg(maxInlineBlockSize / 1024));
                // A tag inside a block would end it early for OpenVPN, not for this parser.
                if (inner.startsWith(QLatin1Char('<')))
                    return refuse(
                        QStringLiteral("the inline block <%1> on line %2 holds another tag").arg(name).arg(number));
                content.append(inner);
            }
            if (!closed)
                return refuse(QStringLiteral("the inline block <%1> on line %2 is never closed").arg(name).arg(number));
            QString pem;
            if (!rebuildPem(*block, content, &pem))
                return refuse(
                    QStringLiteral("the inline block <%1> on line %2 does not hold a valid key or certificate")
                        .arg(name)
                        .arg(number));
            out += QLatin1Char('<') + name + QLatin1String(">\n") + pem + close + QLatin1Char('\n');
            continue;
        }

        QStringList words;
        QString problem;
        if (!splitLine(line, &words, &problem)) {
            // Named only when the first word is a directive this parser would know.
            const QString first = line.section(QLatin1Char(' '), 0, 0);
            const QString who = isNameable(first) ? QStringLiteral("\"%1\" on line %2").arg(first).arg(number)
                                                  : QStringLiteral("line %1").arg(number);
            return refuse(QStringLiteral("%1 uses %2, which this client does not accept").arg(who, problem));
        }
        if (words.isEmpty())
            continue;
        QString name = words.takeFirst();
        // OpenVPN takes "--name" in a file as "name".
        if (name.startsWith(QLatin1String("--")))
            name = name.mid(2);

        if (name == QLatin1String("block-outside-dns") && words.isEmpty()) {
            if (keepsWindowsOnlyDirectives)
                out += name + QLatin1Char('\n');
            continue;
        }
        // Key and certificate directives may only point at the inline blocks.
        if (blockFor(name)) {
            const bool inlineOnly = !words.isEmpty() && words.at(0) == QLatin1String("[inline]");
            const bool direction =
                name == QLatin1String("tls-auth") && words.size() == 2 && keyDirectionArgs(words.mid(1));
            if (!inlineOnly || (words.size() > 1 && !direction))
                return refuse(QStringLiteral("\"%1\" on line %2 names a file; only inline blocks are allowed")
                                  .arg(name)
                                  .arg(number));
            blocksNamed.insert(name);
            if (direction)
                out += QLatin1String("key-direction ") + words.at(1) + QLatin1Char('\n');
            continue;
        }
        if (name == QLatin1String("auth-user-pass") && !words.isEmpty())
            return refuse(
                QStringLiteral("\"auth-user-pass\" on line %1 names a file; the client asks for the user name "
                               "and password itself")
                    .arg(number));
        const Rule *rule = ruleFor(name);
        if (!rule)
            return refuse(refusedDirective(name, number));
        if (words.size() < rule->minArgs || words.size() > rule->maxArgs || !rule->check(words))
            return refuse(
                QStringLiteral("\"%1\" on line %2 has a value this client does not accept").arg(name).arg(number));
        // From level 7 on OpenVPN writes session keys to its log: a server never gets that far.
        if (name == QLatin1String("verb") && words.at(0).toInt() > maxVerb)
            words[0] = QString::number(maxVerb);
        out += name;
        for (const QString &word : words)
            out += QLatin1Char(' ') + quotedIfNeeded(word);
        out += QLatin1Char('\n');
    }
    for (const QString &name : blocksNamed) {
        if (!blocksSeen.contains(name))
            return refuse(QStringLiteral("\"%1\" names an inline block the profile does not hold").arg(name));
    }

    OpenVpnProfileCheck check;
    check.ok = true;
    check.profile = out;
    return check;
}

} // namespace Tavrix::HelperProto

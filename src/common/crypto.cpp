#include "common/crypto.h"

#include <QByteArray>
#include <QTextCodec>

namespace Tavrix {

namespace {

// XOR each byte with the key's UTF-16 unit at the same position (modulo the key length).
// Key units of 256 or more leave the byte alone.
void applyKey(QByteArray &bytes, const QString &key)
{
    const int keyLength = key.size();
    if (keyLength == 0)
        return;
    for (int i = 0; i < bytes.size(); ++i) {
        const ushort k = key.at(i % keyLength).unicode();
        if (k < 256)
            bytes[i] = static_cast<char>(static_cast<uchar>(bytes.at(i)) ^ static_cast<uchar>(k));
    }
}

QString widenSigned(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes)
        out.append(QChar(static_cast<ushort>(static_cast<short>(static_cast<signed char>(c)))));
    return out;
}

} // namespace

QString encode(const QString &text, const QString &key)
{
    if (text.isEmpty())
        return QString();
    QByteArray bytes = text.toUtf8();
    applyKey(bytes, key);
    return QString::fromLatin1(bytes.toBase64());
}

QString decode(const QString &text, const QString &key)
{
    QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    applyKey(bytes, key);

    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    // IgnoreHeader keeps a leading U+FEFF in the text instead of eating it as a byte-order mark.
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull | QTextCodec::IgnoreHeader);
    const QString result = utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return result;
    return widenSigned(bytes);
}

} // namespace Tavrix

#include "controlstate.h"

namespace Tavrix {
namespace Dev {

bool ControlState::parseMode(const QString &text, Mode *mode)
{
    static const QMap<QString, Mode> names = {
        {QStringLiteral("normal"), Mode::Normal}, {QStringLiteral("down"), Mode::Down},
        {QStringLiteral("slow"), Mode::Slow},     {QStringLiteral("never"), Mode::Never},
        {QStringLiteral("empty"), Mode::Empty},   {QStringLiteral("malformed"), Mode::Malformed},
        {QStringLiteral("status"), Mode::Status}, {QStringLiteral("body"), Mode::Body},
    };
    auto it = names.constFind(text.trimmed().toLower());
    if (it == names.cend())
        return false;
    *mode = *it;
    return true;
}

void ControlState::set(const QString &path, const Behaviour &behaviour)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool prefix = path.endsWith(QLatin1Char('*'));
    QMap<QString, Behaviour> &map = prefix ? m_prefix : m_exact;
    const QString key = prefix ? path.chopped(1) : path;
    if (behaviour.mode == Mode::Normal)
        map.remove(key);
    else
        map.insert(key, behaviour);
}

ControlState::Behaviour ControlState::behaviourFor(const QString &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto exact = m_exact.constFind(path);
    if (exact != m_exact.cend())
        return *exact;
    // The longest matching prefix wins.
    Behaviour found;
    int longest = -1;
    for (auto it = m_prefix.cbegin(); it != m_prefix.cend(); ++it) {
        if (path.startsWith(it.key()) && it.key().size() > longest) {
            longest = it.key().size();
            found = *it;
        }
    }
    return found;
}

void ControlState::record(const QJsonObject &request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.append(request);
}

QJsonArray ControlState::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void ControlState::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exact.clear();
    m_prefix.clear();
    m_log = QJsonArray();
    m_wake.notify_all();
}

void ControlState::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
}

} // namespace Dev
} // namespace Tavrix

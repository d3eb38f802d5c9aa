#include "demo/lims/DemoAppLocks.h"

#include <QMutexLocker>

namespace {

using Mode = DemoAppLocks::Mode;

// SQL Server's compatibility of application lock modes: held (row) against asked.
bool compatible(Mode held, Mode asked)
{
    static const bool matrix[5][5] = {
        //             S      U      IS     IX     X
        /* S  */ { true, true, true, false, false },
        /* U  */ { true, false, true, false, false },
        /* IS */ { true, true, true, true, false },
        /* IX */ { false, false, true, true, false },
        /* X  */ { false, false, false, false, false },
    };
    return matrix[int(held)][int(asked)];
}

const QString kModeNames[] = { QStringLiteral("Shared"), QStringLiteral("Update"), QStringLiteral("IntentShared"),
    QStringLiteral("IntentExclusive"), QStringLiteral("Exclusive") };

} // namespace

int DemoAppLocks::openSession(const QString &host)
{
    QMutexLocker lock(&m_mutex);
    const int session = m_nextSession++;
    m_hosts.insert(session, host);
    return session;
}

void DemoAppLocks::endSession(int session)
{
    QMutexLocker lock(&m_mutex);
    m_hosts.remove(session);
    for (auto it = m_grants.begin(); it != m_grants.end();) {
        it->removeIf([session](const Grant &grant) { return grant.session == session; });
        it = it->isEmpty() ? m_grants.erase(it) : std::next(it);
    }
}

bool DemoAppLocks::grantableLocked(int session, const QString &resource, Mode mode) const
{
    for (const Grant &grant : m_grants.value(resource)) {
        if (grant.session != session && !compatible(grant.mode, mode))
            return false;
    }
    return true;
}

int DemoAppLocks::take(int session, const QString &resource, Mode mode)
{
    QMutexLocker lock(&m_mutex);
    if (!grantableLocked(session, resource, mode))
        return -1;
    QVector<Grant> &grants = m_grants[resource];
    for (Grant &grant : grants) {
        if (grant.session == session) {
            // A session asking again in a stronger mode holds the stronger one.
            if (int(mode) > int(grant.mode))
                grant.mode = mode;
            ++grant.count;
            return 0;
        }
    }
    grants.push_back({ session, mode, 1 });
    return 0;
}

int DemoAppLocks::release(int session, const QString &resource)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_grants.find(resource);
    if (it == m_grants.end())
        return -999;
    for (int i = 0; i < it->size(); ++i) {
        Grant &grant = (*it)[i];
        if (grant.session != session)
            continue;
        if (--grant.count == 0)
            it->remove(i);
        if (it->isEmpty())
            m_grants.erase(it);
        return 0;
    }
    return -999;
}

bool DemoAppLocks::grantable(int session, const QString &resource, Mode mode) const
{
    QMutexLocker lock(&m_mutex);
    return grantableLocked(session, resource, mode);
}

QStringList DemoAppLocks::holders(const QString &resource, Mode mode) const
{
    QMutexLocker lock(&m_mutex);
    QStringList hosts;
    for (const Grant &grant : m_grants.value(resource)) {
        if (grant.mode == mode)
            hosts << m_hosts.value(grant.session);
    }
    return hosts;
}

bool DemoAppLocks::modeFromName(const QString &name, Mode *mode)
{
    for (int i = 0; i < 5; ++i) {
        if (name.compare(kModeNames[i], Qt::CaseInsensitive) == 0) {
            *mode = Mode(i);
            return true;
        }
    }
    return false;
}

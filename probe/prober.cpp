#include "prober.h"
#include "icmpengine.h"

Prober::Prober(QObject* parent) : QObject(parent) {}

Prober::~Prober() = default;

quint64 Prober::startProbe(const QString& address)
{
    const quint64 id = ++m_lastId;
    m_queued.insert(id);
    QMetaObject::invokeMethod(
        this, [this, id, address] { runQueued(id, address); }, Qt::QueuedConnection);
    return id;
}

void Prober::cancelProbe(quint64 id)
{
    m_queued.remove(id);
}

void Prober::cancelAll()
{
    m_queued.clear();
}

void Prober::runQueued(quint64 id, const QString& address)
{
    if (!m_queued.remove(id))
        return;
    mdlPing::ICMP_ECHO_REPLY reply;
    const std::int32_t status = PingHost(address, reply);
    const std::int32_t rtt = status == -1 ? 0 : reply.RoundTripTime;
    const mdlPing::Failure failure = status == -1 ? lastFailure() : mdlPing::Failure::None;
    emit probeFinished(id, status, rtt, qint64(rtt) * 1000, failure);
}

IcmpProber::IcmpProber(QObject* parent) : Prober(parent) {}

IcmpProber::~IcmpProber() = default;

mdlPing::IcmpEngine& IcmpProber::engine()
{
    // Made on first use, in the thread that probes.
    if (!m_engine) {
        m_engine = std::make_unique<mdlPing::IcmpEngine>();
        connect(m_engine.get(), &mdlPing::IcmpEngine::finished, this, &Prober::probeFinished);
    }
    return *m_engine;
}

quint64 IcmpProber::startProbe(const QString& address)
{
    return engine().start(address);
}

void IcmpProber::cancelProbe(quint64 id)
{
    if (m_engine)
        m_engine->cancel(id);
}

void IcmpProber::cancelAll()
{
    if (m_engine)
        m_engine->cancelAll();
}

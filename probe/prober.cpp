#include "probe/prober.h"
#include "probe/icmpcore.h"
#include "probe/icmpengine.h"

#include <QPointer>

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
    // A scripted PingHost says nothing of names; an address is what it is.
    const mdlPing::detail::Target target = mdlPing::detail::classifyAddress(address);
    const QString probed =
        status != -1 && target.form == mdlPing::detail::Target::Form::Address ? target.address.toString() : QString();
    report(id, status, rtt, qint64(rtt) * 1000, failure, probed);
}

void Prober::report(quint64 id, std::int32_t status, std::int32_t roundTripMs, qint64 roundTripUs,
                    mdlPing::Failure failure, const QString& probed)
{
    const QPointer<Prober> alive(this);
    m_reportingId = id;
    m_reportingAddress = probed;
    Q_EMIT probeFinished(id, status, roundTripMs, roundTripUs, failure);
    if (alive) {
        m_reportingId = 0;
        m_reportingAddress.clear();
    }
}

IcmpProber::IcmpProber(QObject* parent) : Prober(parent) {}

IcmpProber::~IcmpProber() = default;

mdlPing::IcmpEngine& IcmpProber::engine()
{
    // Made on first use, in the thread that probes.
    if (!m_engine) {
        m_engine = std::make_unique<mdlPing::IcmpEngine>();
        connect(m_engine.get(), &mdlPing::IcmpEngine::finished, this,
                [this](quint64 id, std::int32_t status, std::int32_t ms, qint64 us, mdlPing::Failure failure) {
                    report(id, status, ms, us, failure, m_engine->probedAddress(id));
                });
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

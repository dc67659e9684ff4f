#include "probe/prober.h"
#include "probe/icmpcore.h"
#include "probe/icmpengine.h"
#include <algorithm>

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
    mdlPing::Outcome outcome = probe(address);
    if (outcome.status != -1 && outcome.probed.isEmpty()) {
        // A scripted probe says nothing of names; an address is what it is.
        const mdlPing::detail::Target target = mdlPing::detail::classifyAddress(address);
        if (target.form == mdlPing::detail::Target::Form::Address)
            outcome.probed = target.address.toString();
    }
    Q_EMIT probeFinished(id, outcome);
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

void IcmpProber::setReplyTimeoutMs(int ms)
{
    Prober::setReplyTimeoutMs(ms);
    // The process's endpoint, which the engine and the blocking probes share.
    mdlPing::detail::IcmpCore::process()->setReplyTimeout(std::chrono::milliseconds(ms));
}

void IcmpProber::setPayloadBytes(int bytes)
{
    Prober::setPayloadBytes(bytes);
    mdlPing::detail::IcmpCore::process()->setPayloadSize(static_cast<std::size_t>(std::max(bytes, 0)));
}

void IcmpProber::cancelAll()
{
    if (m_engine)
        m_engine->cancelAll();
}

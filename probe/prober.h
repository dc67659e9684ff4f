#pragma once

#include "probe/mdlping.h"

#include <QObject>
#include <QSet>

#include <cstdint>
#include <memory>

namespace mdlPing {
class IcmpEngine;
}

// What the sweep needs of a probe engine; tests script their own.
//
// Two ways to probe: the blocking probe, and startProbe, whose outcome arrives later
// through probeFinished from the event loop (never from inside startProbe). A scripted
// prober only needs probe: the asynchronous calls are built on it by default.
class Prober : public QObject
{
    Q_OBJECT

public:
    explicit Prober(QObject* parent = nullptr);
    ~Prober() override;

    virtual bool SocketsStartup() = 0;
    virtual void SocketsCleanup() = 0;
    // One echo request, blocking until its outcome.
    virtual mdlPing::Outcome probe(const QString& address) = 0;

    // Sends one echo request and returns the probe's id (never 0); its outcome comes
    // through probeFinished once control is back in the event loop.
    virtual quint64 startProbe(const QString& address);
    // The probe's outcome is never reported.
    virtual void cancelProbe(quint64 id);
    virtual void cancelAll();
    // How long each request waits for its reply, 100..10000 ms, for the requests started from
    // now on; a time-out stays status 11010 whatever it is.
    virtual void setReplyTimeoutMs(int ms) { m_replyTimeoutMs = ms; }
    int replyTimeoutMs() const { return m_replyTimeoutMs; }
    // The payload of each request, 0..1472 bytes (an IPv6 request carries at most 1452), for
    // the requests started from now on.
    virtual void setPayloadBytes(int bytes) { m_payloadBytes = bytes; }
    int payloadBytes() const { return m_payloadBytes; }

Q_SIGNALS:
    // The probe's outcome, as one value.
    void probeFinished(quint64 id, const mdlPing::Outcome& outcome);

private:
    void runQueued(quint64 id, const QString& address);

    quint64 m_lastId = 0;
    QSet<quint64> m_queued;

private:
    int m_replyTimeoutMs = 1000;
    int m_payloadBytes = 5;
};

// The real ICMP engine: the process's endpoint, probes waiting in the event loop.
class IcmpProber : public Prober
{
    Q_OBJECT

public:
    explicit IcmpProber(QObject* parent = nullptr);
    ~IcmpProber() override;

    bool SocketsStartup() override { return mdlPing::SocketsStartup(); }
    void SocketsCleanup() override { mdlPing::SocketsCleanup(); }
    mdlPing::Outcome probe(const QString& address) override
    {
        mdlPing::ICMP_ECHO_REPLY reply;
        return mdlPing::Probe(address, reply);
    }

    quint64 startProbe(const QString& address) override;
    void cancelProbe(quint64 id) override;
    void cancelAll() override;
    void setReplyTimeoutMs(int ms) override;
    void setPayloadBytes(int bytes) override;

private:
    mdlPing::IcmpEngine& engine();

    std::unique_ptr<mdlPing::IcmpEngine> m_engine;
};

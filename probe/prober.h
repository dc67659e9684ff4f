#pragma once

#include "mdlping.h"

// What the sweep needs of a probe engine; tests script their own.
class Prober
{
public:
    virtual ~Prober() = default;
    virtual bool SocketsStartup() = 0;
    virtual void SocketsCleanup() = 0;
    virtual std::int32_t PingHost(const QString& address, mdlPing::ICMP_ECHO_REPLY& reply) = 0;
    // Why the latest PingHost returned -1.
    virtual mdlPing::Failure lastFailure() const = 0;
};

// The real ICMP engine.
class IcmpProber : public Prober
{
public:
    bool SocketsStartup() override { return mdlPing::SocketsStartup(); }
    void SocketsCleanup() override { mdlPing::SocketsCleanup(); }
    std::int32_t PingHost(const QString& address, mdlPing::ICMP_ECHO_REPLY& reply) override
    {
        return mdlPing::PingHost(address, reply);
    }
    mdlPing::Failure lastFailure() const override { return mdlPing::LastFailure(); }
};

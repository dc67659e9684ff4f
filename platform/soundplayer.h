#pragma once

#include <QString>

namespace platform {

// Plays a wave file in the background. Never blocks and never reports a failure.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString& file) = 0;
};

} // namespace platform

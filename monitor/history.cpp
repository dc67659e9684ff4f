#include "monitor/history.h"

#include "probe/statuscodes.h"

namespace monitor {

SampleKind sampleKind(std::int32_t status)
{
    if (status == 0)
        return SampleKind::Reply;
    if (status == statusCode(Status::TimedOut))
        return SampleKind::TimedOut;
    if (status == statusCode(Status::NotSent))
        return SampleKind::NotSent;
    return SampleKind::Failed;
}

} // namespace monitor

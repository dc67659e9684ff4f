#include "platform/progressbar.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
// QProgressBar works in ints; this many steps keep fractional values visible.
constexpr int Steps = 10000;
} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setTextVisible(false);
    QProgressBar::setRange(0, Steps);
    apply();
}

void ProgressBar::setMin(float v)
{
    m_min = v;
    apply();
}

void ProgressBar::setMax(float v)
{
    m_max = v;
    apply();
}

void ProgressBar::setValue(float v)
{
    m_value = v;
    apply();
}

void ProgressBar::apply()
{
    // Equal bounds mean "all done" rather than QProgressBar's busy animation.
    double fraction = 1.0;
    if (m_max > m_min)
        fraction = (double(m_value) - m_min) / (double(m_max) - m_min);
    else if (m_value < m_min)
        fraction = 0.0;
    if (!std::isfinite(fraction))
        fraction = 0.0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    QProgressBar::setValue(static_cast<int>(std::lround(fraction * Steps)));
}

} // namespace platform

#pragma once

#include <QProgressBar>

namespace platform {

// A progress bar driven with single-precision Min, Max and Value. Min may equal Max:
// the bar then shows full instead of the busy animation QProgressBar would show.
class ProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    float Min() const { return m_min; }
    float Max() const { return m_max; }
    float Value() const { return m_value; }
    void setMin(float v);
    void setMax(float v);
    void setValue(float v);

private:
    void apply();
    float m_min = 0;
    float m_max = 100;
    float m_value = 0;
};

} // namespace platform

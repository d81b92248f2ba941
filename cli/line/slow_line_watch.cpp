#include "cli/line/slow_line_watch.h"

#include "cli/doctor/doctor_command.h"
#include "cli/report/line_figures.h"

namespace tarnlink {

std::string SlowLineWatch::poll(bool ended) {
    if (m_judged) {
        return {};
    }
    const LineFigures figures = lineFigures(exchangeFigures(), 0);
    if (!ended && figures.exchanges < TURNAROUND_SAMPLES) {
        return {};
    }
    m_judged = true;
    // The advice looks at sysfs and the udev rules: only worth it when the line is slow.
    if (slowLineWarning(figures, {}).empty()) {
        return {};
    }
    return slowLineWarning(figures, slowLineAdvice(m_devicePath));
}

}  // namespace tarnlink

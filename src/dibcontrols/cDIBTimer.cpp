#include "dibcontrols/cDIBTimer.h"

TDIBTimer::TDIBTimer(TComponent* owner) : TComponent(owner) {}

TDIBTimer::~TDIBTimer() {
    fEnabled = false;
    fTimer.Stop();
}

void TDIBTimer::SetEnabled(bool enabled) {
    if (fEnabled == enabled) return;
    fEnabled = enabled;
    UpdateTimer();
}

void TDIBTimer::SetInterval(uint32_t interval) {
    if (fInterval == interval) return;
    fInterval = interval;
    UpdateTimer();
}

void TDIBTimer::SetOnTimer(TNotifyEvent e) {
    fOnTimer = std::move(e);
    UpdateTimer();
}

void TDIBTimer::UpdateTimer() {
    fTimer.Stop();
    if (fInterval == 0 || !fEnabled || !fOnTimer) return;
    const bool started = fTimer.Start(PlatformOf(this), fInterval, [this] {
        SafeCall([this] {
            // A copy: the handler may replace OnTimer or free the timer.
            if (auto handler = fOnTimer) handler(this);
        });
    });
    if (!started) {
        fEnabled = false;
        throw EOutOfResources("Not enough timers available");
    }
}

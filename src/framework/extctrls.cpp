#include "framework/extctrls.h"

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 105, 105);
}

void TImage::SetPicture(TBitmap picture) {
    fPicture = std::move(picture);
    AdjustSize();
    Invalidate();
}

void TImage::SetAutoSize(bool autoSize) {
    fAutoSize = autoSize;
    AdjustSize();
}

void TImage::AdjustSize() {
    if (fAutoSize && !fPicture.Empty())
        SetBounds(Left(), Top(), fPicture.Width(), fPicture.Height());
}

void TImage::Paint(TCanvas& canvas) {
    // The canvas clips to the control's bounds, so a larger picture is cut at the edges.
    canvas.Draw(0, 0, fPicture.View());
}

TCustomPanel::TCustomPanel(TComponent* owner) : TWinControl(owner) {
    SetColor(clBtnFace);
    SetBounds(0, 0, 185, 41);
}

bool TPlatformTimer::Start(IPlatform* platform, uint32_t intervalMs, std::function<void()> tick) {
    Stop();
    if (!platform) return false;
    fId = platform->StartTimer(intervalMs, std::move(tick));
    fPlatform = fId ? platform : nullptr;
    return fId != 0;
}

void TPlatformTimer::Stop() {
    if (fId && fPlatform) fPlatform->StopTimer(fId);
    fId = 0;
    fPlatform = nullptr;
}

void TTimer::SetEnabled(bool enabled) {
    if (fEnabled == enabled) return;
    fEnabled = enabled;
    UpdateTimer();
}

void TTimer::SetInterval(uint32_t interval) {
    if (fInterval == interval) return;
    fInterval = interval;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent e) {
    fOnTimer = std::move(e);
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    fTimer.Stop();
    if (!fEnabled || fInterval == 0 || !fOnTimer) return;
    const bool started = fTimer.Start(PlatformOf(this), fInterval, [this] {
        // A copy, so a handler that frees the timer does not free itself mid-call.
        SafeCall([this] {
            if (auto handler = fOnTimer) handler(this);
        });
    });
    if (!started) {
        fEnabled = false;
        throw EOutOfResources("Not enough timers available");
    }
}

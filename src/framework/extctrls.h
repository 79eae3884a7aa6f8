// Picture controls, panels and timers.
#pragma once

#include "framework/controls.h"

#include <cstdint>

// A window-less control showing a bitmap unstretched from its top-left, clipped to its bounds;
// where the bitmap does not reach, whatever lies beneath shows.
class TImage : public TGraphicControl {
  public:
    explicit TImage(TComponent* owner);
    std::string_view ClassName() const override { return "TImage"; }

    const TBitmap& Picture() const { return fPicture; }
    void SetPicture(TBitmap picture);
    // Sizes the control to the picture.
    bool AutoSize() const { return fAutoSize; }
    void SetAutoSize(bool autoSize);

    void Paint(TCanvas& canvas) override;

  private:
    void AdjustSize();

    TBitmap fPicture;
    bool fAutoSize = false;
};

// A windowed container with a background colour.
class TCustomPanel : public TWinControl {
  public:
    explicit TCustomPanel(TComponent* owner);
    std::string_view ClassName() const override { return "TCustomPanel"; }
};

class TPanel : public TCustomPanel {
  public:
    using TCustomPanel::TCustomPanel;
    std::string_view ClassName() const override { return "TPanel"; }
};

// A platform timer held by an object: started and stopped on the UI thread; ticks run there too.
// Stops when destroyed.
class TPlatformTimer {
  public:
    TPlatformTimer() = default;
    ~TPlatformTimer() { Stop(); }
    TPlatformTimer(const TPlatformTimer&) = delete;
    TPlatformTimer& operator=(const TPlatformTimer&) = delete;

    // Restarts the period. Answers false (and stays stopped) when the platform refuses or there is
    // no platform.
    bool Start(IPlatform* platform, uint32_t intervalMs, std::function<void()> tick);
    void Stop();
    bool Running() const { return fId != 0; }

  private:
    IPlatform* fPlatform = nullptr;
    IPlatform::TTimerId fId = 0;
};

// Calls OnTimer every Interval milliseconds while Enabled. Any change of Enabled, Interval or
// OnTimer restarts the period. An exception from OnTimer goes to the application's handler and
// the timer keeps running.
class TTimer : public TComponent {
  public:
    explicit TTimer(TComponent* owner) : TComponent(owner) {}
    ~TTimer() override { fTimer.Stop(); }
    std::string_view ClassName() const override { return "TTimer"; }

    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool enabled);
    uint32_t Interval() const { return fInterval; }
    void SetInterval(uint32_t interval);
    const TNotifyEvent& OnTimer() const { return fOnTimer; }
    void SetOnTimer(TNotifyEvent e);
    bool Running() const { return fTimer.Running(); }

  protected:
    // For timers that start disabled.
    TTimer(TComponent* owner, bool enabled) : TComponent(owner), fEnabled(enabled) {}

  private:
    // Raises EOutOfResources "Not enough timers available" (and turns Enabled off) when refused.
    void UpdateTimer();

    TPlatformTimer fTimer;
    bool fEnabled = true;
    uint32_t fInterval = 1000;
    TNotifyEvent fOnTimer;
};

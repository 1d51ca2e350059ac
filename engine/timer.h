// Frame timers. A TDXTimer ticks from the application's idle processing: the application has one idle
// slot, and starting a timer puts it there, replacing whatever timer was installed. Each tick passes its
// handler the move count LagCount, the number of whole intervals since the previous tick.
// Timers are owned by the main window; TDXApplication is the one place that knows the idle slot, the
// active state and every timer, so that activation reaches all of them in creation order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class TDXTimer;

// The move counts a tick passes its handler: at least 1; a tick more than kMaxLagCount intervals late
// (about four seconds at 16 ms: a stalled or suspended machine) is passed kMaxLagCount, which a game's
// replay keeps in one byte.
constexpr int kMinLagCount = 1;
constexpr int kMaxLagCount = 255;

class TDXApplication {
 public:
  // Runs the installed timer's tick, if any.
  void Idle();
  // Milliseconds until the installed timer's next tick is due (0: due now); -1 when no timer is installed.
  int64_t MillisecondsToNextTick() const;
  // Activation notifications: every timer's OnActivate (or OnDeactivate) runs, enabled or not.
  void Activate();
  void Deactivate();
  bool Active() const { return IsActive; }

  TDXTimer* IdleHandler = nullptr;  // the one idle slot

 private:
  friend class TDXTimer;
  friend void ResetApplication();
  std::vector<TDXTimer*> Timers;  // in creation order
  bool IsActive = true;
};

// The application every timer belongs to. Tests reset it with ResetApplication.
extern TDXApplication Application;
void ResetApplication();

class TDXTimer {
 public:
  using TTimerEvent = std::function<void(TDXTimer& sender, int lagCount)>;
  using TNotifyEvent = std::function<void(TDXTimer& sender)>;

  TDXTimer();
  ~TDXTimer();
  TDXTimer(const TDXTimer&) = delete;
  TDXTimer& operator=(const TDXTimer&) = delete;

  // Ends the loading state; a timer left enabled starts now.
  void Loaded();

  void SetEnabled(bool enabled);
  bool Enabled() const { return IsEnabled; }
  void SetInterval(int interval);  // stored as max(interval, 0)
  int Interval() const { return IntervalMs; }
  void SetActiveOnly(bool activeOnly);
  bool ActiveOnly() const { return IsActiveOnly; }
  bool Running() const { return IsRunning; }
  int FrameRate() const { return Rate; }

  // The idle handler: ticks when at least one interval has passed since the last tick.
  void DoIdle();
  int64_t MillisecondsToNextTick() const;

  TTimerEvent OnTimer;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

 private:
  friend class TDXApplication;
  void Start();
  void Stop();
  void Install();
  void NotifyActivate();
  void NotifyDeactivate();

  bool IsActiveOnly = true;
  bool IsEnabled = true;
  bool IsRunning = false;
  bool Loading = true;
  int IntervalMs = 1000;
  int Rate = 0;              // ticks per second over the last window of at least 1000 ms
  uint32_t TickCounter = 0;  // ticks in the current frame-rate window
  uint32_t LastTick = 0;     // platform milliseconds
  uint32_t WindowStart = 0;  // platform milliseconds
};

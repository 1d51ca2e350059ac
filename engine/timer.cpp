#include "engine/timer.h"

#include <algorithm>

#include "engine/rtl.h"
#include "platform/platform.h"

TDXApplication Application;

void ResetApplication() {
  Application.IdleHandler = nullptr;
  Application.IsActive = true;
}

void TDXApplication::Idle() {
  if (IdleHandler) IdleHandler->DoIdle();
}

int64_t TDXApplication::MillisecondsToNextTick() const {
  return IdleHandler ? IdleHandler->MillisecondsToNextTick() : -1;
}

void TDXApplication::Activate() {
  IsActive = true;
  std::vector<TDXTimer*> timers = Timers;
  for (TDXTimer* timer : timers) timer->NotifyActivate();
}

void TDXApplication::Deactivate() {
  IsActive = false;
  std::vector<TDXTimer*> timers = Timers;
  for (TDXTimer* timer : timers) timer->NotifyDeactivate();
}

TDXTimer::TDXTimer() { Application.Timers.push_back(this); }

TDXTimer::~TDXTimer() {
  Stop();
  auto& timers = Application.Timers;
  timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void TDXTimer::Loaded() {
  Loading = false;
  if (IsEnabled) Start();
}

void TDXTimer::SetEnabled(bool enabled) {
  if (IsEnabled == enabled) return;
  IsEnabled = enabled;
  if (Loading) return;
  if (enabled)
    Start();
  else
    Stop();
}

void TDXTimer::SetInterval(int interval) { IntervalMs = std::max(interval, 0); }

void TDXTimer::SetActiveOnly(bool activeOnly) {
  IsActiveOnly = activeOnly;
  if (IsEnabled && !Loading) Start();
}

void TDXTimer::Install() {
  uint32_t now = plat::Platform().Milliseconds();
  LastTick = now;
  WindowStart = now;
  Application.IdleHandler = this;
}

void TDXTimer::Start() {
  Stop();
  if (!IsActiveOnly || Application.Active()) Install();
  IsRunning = true;
}

// Empties the idle slot even when another timer has taken it since: the caller stops one timer before
// starting the other.
void TDXTimer::Stop() {
  if (!IsRunning) return;
  Application.IdleHandler = nullptr;
  IsRunning = false;
}

void TDXTimer::DoIdle() {
  uint32_t now = plat::Platform().Milliseconds();
  uint32_t divisor = static_cast<uint32_t>(std::max(IntervalMs, 1));
  uint32_t elapsed = now - LastTick;
  if (elapsed < static_cast<uint32_t>(IntervalMs)) return;
  const int lagCount = static_cast<int>(std::clamp(elapsed / divisor, static_cast<uint32_t>(kMinLagCount),
                                                   static_cast<uint32_t>(kMaxLagCount)));
  LastTick = now;

  ++TickCounter;
  uint32_t window = std::max<uint32_t>(now - WindowStart, 1);
  if (window >= 1000) {
    Rate = static_cast<int>(Round(TickCounter * 1000.0 / window));
    TickCounter = 0;
    WindowStart = now;
  }
  if (OnTimer) OnTimer(*this, lagCount);
}

int64_t TDXTimer::MillisecondsToNextTick() const {
  uint32_t elapsed = plat::Platform().Milliseconds() - LastTick;
  if (elapsed >= static_cast<uint32_t>(IntervalMs)) return 0;
  return IntervalMs - static_cast<int64_t>(elapsed);
}

void TDXTimer::NotifyActivate() {
  if (OnActivate) OnActivate(*this);
  if (IsRunning && IsActiveOnly) Install();
}

void TDXTimer::NotifyDeactivate() {
  if (OnDeactivate) OnDeactivate(*this);
  if (IsRunning && IsActiveOnly) Application.IdleHandler = nullptr;
}

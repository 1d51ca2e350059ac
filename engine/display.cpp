#include "engine/display.h"

#include "common/format.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.h"

using plat::Platform;

namespace {

constexpr TDXDrawOptions kFullScreenOnly =
    OptionBit(doNoWindowChange) | OptionBit(doAllowReboot) | OptionBit(doAllowPalette256) | OptionBit(doFlip);
constexpr TDXDrawOptions k3DOnly = OptionBit(doDirectX7Mode) | OptionBit(doRetainedMode) | OptionBit(doHardware) |
                                   OptionBit(doSelectDriver) | OptionBit(doZBuffer);
// What may change while initialised.
constexpr TDXDrawOptions kLiveOptions = OptionBit(doWaitVBlank) | OptionBit(doStretch) | OptionBit(doCenter);

bool Has(TDXDrawOptions options, TDXDrawOption option) { return (options & OptionBit(option)) != 0; }

// The one mode the platform's full screen offers: the picture at its own size, scaled by the desktop.
const std::vector<TDXDrawDisplayMode>& PlatformModes() {
  static const std::vector<TDXDrawDisplayMode> modes{{plat::kFrameWidth, plat::kFrameHeight, 32}};
  return modes;
}

}  // namespace

TDXDrawOptions EffectiveOptions(TDXDrawOptions requested) {
  TDXDrawOptions options = requested;
  if (!Has(options, doFullScreen)) options &= static_cast<TDXDrawOptions>(~kFullScreenOnly);
  if (!Has(options, do3D)) options &= static_cast<TDXDrawOptions>(~k3DOnly);
  if (Has(options, doSystemMemory)) options &= static_cast<TDXDrawOptions>(~OptionBit(doFlip));
  if (Has(options, doDirectX7Mode)) options &= static_cast<TDXDrawOptions>(~OptionBit(doRetainedMode));
  options &= static_cast<TDXDrawOptions>(~OptionBit(doHardware));
  return options;
}

void TDXDrawDisplay::SetBitCount(int bitCount) {
  if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    throw EDXDrawError("It should be either of 8 or 16 or 24 or 32");
  Bits = bitCount;
}

bool ChooseDisplayMode(const TDXDrawDisplay& display, const std::vector<TDXDrawDisplayMode>& modes,
                       TDXDrawDisplayMode& chosen) {
  TDXDrawDisplayMode want{display.Width, display.Height, display.BitCount()};
  if (want.Width <= 0 || want.Height <= 0) return false;
  for (const TDXDrawDisplayMode& mode : modes)
    if (mode == want) {
      chosen = mode;
      return true;
    }
  auto fits = [&](const TDXDrawDisplayMode& mode, bool ratio) {
    if (ratio && int64_t{mode.Width} * want.Height != int64_t{mode.Height} * want.Width) return false;
    if (display.FixedSize ? (mode.Width != want.Width || mode.Height != want.Height)
                          : (mode.Width < want.Width || mode.Height < want.Height))
      return false;
    if (display.FixedBitCount) return mode.BitCount == want.BitCount;
    if (mode.BitCount <= 8 || want.BitCount <= 8) return mode.BitCount >= want.BitCount;
    return true;
  };
  for (bool ratio : {display.FixedRatio, false}) {
    const TDXDrawDisplayMode* best = nullptr;
    for (const TDXDrawDisplayMode& mode : modes) {
      if (!fits(mode, ratio)) continue;
      if (!best || int64_t{mode.Width} * mode.Height < int64_t{best->Width} * best->Height ||
          (int64_t{mode.Width} * mode.Height == int64_t{best->Width} * best->Height && mode.BitCount < best->BitCount))
        best = &mode;
    }
    if (best) {
      chosen = *best;
      return true;
    }
  }
  return false;
}

TDXDraw::TDXDraw() = default;

TDXDraw::~TDXDraw() {
  FinalizeDisplay();
  Notify(dxntDestroying);
}

void TDXDraw::RegisterNotifyEvent(const void* listener, TDXDrawNotifyEvent callback) {
  UnRegisterNotifyEvent(listener);
  Listeners.push_back({listener, std::move(callback)});
}

void TDXDraw::UnRegisterNotifyEvent(const void* listener) {
  for (size_t i = Listeners.size(); i-- > 0;)
    if (Listeners[i].Listener == listener) Listeners.erase(Listeners.begin() + static_cast<ptrdiff_t>(i));
}

void TDXDraw::Notify(TDXDrawNotifyType type) {
  // Newest first; the index is re-checked because a listener may unregister while being told.
  for (size_t i = Listeners.size(); i-- > 0;) {
    if (i >= Listeners.size()) continue;
    TDXDrawNotifyEvent callback = Listeners[i].Callback;
    if (callback) callback(*this, type);
  }
}

void TDXDraw::SetOptions(TDXDrawOptions options) {
  Requested = options;
  if (!IsInitialized) {
    Effective = EffectiveOptions(Requested);
  } else {
    Effective = static_cast<TDXDrawOptions>((Effective & ~kLiveOptions) | (Requested & kLiveOptions));
  }
}

void TDXDraw::ChangeDisplayMode() {
  TDXDrawDisplayMode mode;
  bool changed = ChooseDisplayMode(Display, PlatformModes(), mode);
  if (changed) {
    Platform().SetFullScreen(true);
    changed = Platform().FullScreen();
  }
  if (!changed)
    throw EDXDrawError("Display mode cannot be changed (%dx%d %dbit)", Display.Width, Display.Height,
                       Display.BitCount());
  WentFullScreen = true;
  Display.Mode = mode;
}

void TDXDraw::InitializeDisplay() {
  FinalizeDisplay();
  if (!Platform().WindowOpen()) throw EDXDrawError("Form not found");
  IsBusy = true;
  try {
    Notify(dxntInitializing);
    UsesFlip = Has(Effective, doFlip);
    if (Has(Effective, doFullScreen))
      ChangeDisplayMode();
    else
      Platform().SetFullScreen(false);
    Surface.CreateOffscreen(plat::kFrameWidth, plat::kFrameHeight);
    Surface.SystemMemory = Has(Effective, doSystemMemory);
    Surface.FillSurface(0);
    PrimaryLost = false;
    Platform().TakePresentationLost();  // a loss before this initialisation is no loss of its surfaces
    IsInitialized = true;
    EverInitialized = true;
  } catch (...) {
    ReleaseDriver();
    IsBusy = false;
    throw;
  }
  IsBusy = false;
  ++NotifyNest;
  try {
    Notify(dxntSetSurfaceSize);
    Notify(dxntInitialize);
    Notify(dxntInitializeSurface);
  } catch (...) {
    --NotifyNest;
    throw;
  }
  --NotifyNest;
  RestoreDisplay();
}

void TDXDraw::FinalizeDisplay() {
  if (!IsInitialized) return;
  IsBusy = true;
  try {
    Notify(dxntFinalizeSurface);
    Notify(dxntFinalize);
  } catch (...) {
    IsInitialized = IsBusy = false;
    Effective = EffectiveOptions(Requested);
    ReleaseDriver();
    throw;
  }
  IsInitialized = IsBusy = false;
  Effective = EffectiveOptions(Requested);
  ReleaseDriver();
}

void TDXDraw::ReleaseDriver() {
  Surface.Release();
  Display.Mode = {};
  PrimaryLost = false;
  // Releasing the full-screen display returns the window to the desktop.
  if (WentFullScreen) Platform().SetFullScreen(false);
  WentFullScreen = false;
  UsesFlip = false;
}

void TDXDraw::RestoreDisplay() {
  if (!IsInitialized || IsBusy) return;
  IsBusy = true;
  try {
    // The platform rebuilds its graphics device itself, so the presentation side is restored once it
    // has been told; the back buffer lives in memory and only needs its pixels.
    if (Surface.RestoreSurface()) {
      PrimaryLost = false;
      Surface.FillSurface(0);
      if (NotifyNest == 0) Notify(dxntRestore);
    }
  } catch (...) {
    IsBusy = false;
    throw;
  }
  IsBusy = false;
}

void TDXDraw::WindowShown() {
  if (AutoInitialize && !EverInitialized && !IsInitialized) InitializeDisplay();
}

bool TDXDraw::CheckSurfaces() {
  if (!IsInitialized || IsBusy || !Surface.HasPixels()) return false;
  if (Platform().TakePresentationLost()) PrimaryLost = true;
  if (!PrimaryLost) return true;
  RestoreDisplay();
  return IsInitialized && !PrimaryLost;
}

bool TDXDraw::CanDraw() { return CheckSurfaces(); }

void TDXDraw::FlipDisplay() {
  if (!CheckSurfaces()) return;
  if (UsesFlip && !Platform().Foreground()) return;
  if (Surface.LockCount() > 0) {
    Surface.LastResult = DDERR_SURFACEBUSY;
    return;
  }
  Platform().Present(Surface.Bits(), Surface.Pitch());
  Surface.LastResult = DD_OK;
}

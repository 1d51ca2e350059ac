// The display: one 800 x 600 back buffer in memory that every frame is drawn into and then presented
// in the platform's window, windowed or full screen. Owned by the main window (its DXDraw); the image
// list and the sprite engine listen to its notifications to build and drop what they keep on surfaces.
// Surfaces are memory buffers; what can be lost is the presentation side (the graphics device of the
// platform's window), and a loss takes the restore path with its notifications.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"
#include "engine/surface.h"

class TDXDraw;

// Option bits; the numbers are fixed.
enum TDXDrawOption : uint8_t {
  doFullScreen = 0,       // full screen with a display-mode change
  doNoWindowChange = 1,   // full screen without restyling the window
  doAllowReboot = 2,      // full screen still allows the reboot key combination
  doWaitVBlank = 3,       // windowed presentation waits for the vertical blank
  doAllowPalette256 = 4,  // 8-bit modes may use all 256 palette entries
  doSystemMemory = 5,     // back buffer in system memory
  doStretch = 6,          // windowed presentation stretches the back buffer to the control
  doCenter = 7,           // windowed presentation centres the back buffer in the control
  doFlip = 8,             // full screen presents by page flipping
  do3D = 9,               // 3-D device support
  doDirectX7Mode = 10,    // the version-7 creation call
  doRetainedMode = 11,    // 3-D only
  doHardware = 12,        // 3-D only
  doSelectDriver = 13,    // 3-D only
  doZBuffer = 14,         // 3-D only
};
using TDXDrawOptions = uint16_t;  // bit n: option n
constexpr TDXDrawOptions OptionBit(TDXDrawOption option) { return static_cast<TDXDrawOptions>(1u << option); }

// The options in effect for a requested set: full-screen-only bits need doFullScreen, bits 10-14 need
// do3D, doSystemMemory excludes doFlip, doDirectX7Mode excludes doRetainedMode, doHardware never holds.
TDXDrawOptions EffectiveOptions(TDXDrawOptions requested);

// Notification codes sent to listeners.
enum TDXDrawNotifyType : uint8_t {
  dxntDestroying = 0,         // the display is being destroyed
  dxntInitializing = 1,       // initialisation starts
  dxntInitialize = 2,         // initialised
  dxntInitializeSurface = 3,  // surfaces initialised
  dxntFinalize = 4,           // finalised
  dxntFinalizeSurface = 5,    // surfaces finalised
  dxntRestore = 6,            // surfaces restored: rebuild what is kept on surfaces
  dxntSetSurfaceSize = 7,     // the surface size is known or changed
};
using TDXDrawNotifyEvent = std::function<void(TDXDraw& sender, TDXDrawNotifyType type)>;

// Raised by the display; the message names what failed.
using EDXDrawError = EAreaError<struct TDisplayArea>;

struct TDXDrawDisplayMode {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
  bool operator==(const TDXDrawDisplayMode&) const = default;
};

// The full-screen display mode asked for, and how strictly a substitute must match it.
class TDXDrawDisplay {
 public:
  int BitCount() const { return Bits; }
  // Raises "It should be either of 8 or 16 or 24 or 32" for any other count.
  void SetBitCount(int bitCount);

  int Width = 800;
  int Height = 600;
  bool FixedBitCount = true;
  bool FixedRatio = true;
  bool FixedSize = true;
  TDXDrawDisplayMode Mode;  // the mode last set; zero while none is

 private:
  int Bits = 32;
};

// The mode a display-mode change sets out of the available ones: the exact mode if there is one,
// else the smallest that keeps the aspect ratio (when FixedRatio), the size (when FixedSize; else at
// least the size) and the bit count (when FixedBitCount; else at least it when either is 8 or less,
// any above 8 otherwise), searched first with the ratio condition and then without. False when none.
bool ChooseDisplayMode(const TDXDrawDisplay& display, const std::vector<TDXDrawDisplayMode>& modes,
                       TDXDrawDisplayMode& chosen);

class TDXDraw {
 public:
  TDXDraw();
  // Finalises, then tells the listeners the display is going (code 0).
  ~TDXDraw();
  TDXDraw(const TDXDraw&) = delete;
  TDXDraw& operator=(const TDXDraw&) = delete;

  // Finalises, then makes the back buffer (and goes full screen with doFullScreen) and tells the
  // listeners 1, then 7, 2, 3, then 6 through RestoreDisplay. Raises "Form not found" without a
  // window, "Display mode cannot be changed (%dx%d %dbit)" when full screen is refused, "Surface cannot
  // be made"; a failed initialisation leaves the display finalised.
  void InitializeDisplay();
  // When initialised: tells the listeners 5, then 4, frees the back buffer and returns the window to
  // the desktop.
  void FinalizeDisplay();
  // Initialised, not busy, with a back buffer, and the presentation side not lost (a loss is restored
  // here first; the answer is true only if that succeeded). Frame handlers return at once when false.
  bool CanDraw();
  // Presents the back buffer when CanDraw would be true. Full screen with page flipping presents nothing
  // while the window is in the background; a back buffer still held by its canvas is not presented.
  void FlipDisplay();
  // When initialised and not busy: restores the surfaces, clears the back buffer to 0 and tells the
  // listeners 6 (unless initialisation's own notifications are being sent).
  void RestoreDisplay();
  // The window was shown: initialises when AutoInitialize is set and the display never was.
  void WindowShown();

  // Listeners are told newest first. A listener may unregister itself (or others) while being told,
  // and must unregister before it is destroyed. Registering a listener again replaces its callback.
  void RegisterNotifyEvent(const void* listener, TDXDrawNotifyEvent callback);
  void UnRegisterNotifyEvent(const void* listener);

  // While not initialised the effective set follows the requested one at once; while initialised only
  // doWaitVBlank, doStretch and doCenter change now, the rest at the next initialisation.
  void SetOptions(TDXDrawOptions options);
  TDXDrawOptions Options() const { return Requested; }
  TDXDrawOptions NowOptions() const { return Effective; }

  bool Initialized() const { return IsInitialized; }
  bool Busy() const { return IsBusy; }
  // The driver chosen at initialisation presents by page flipping (full screen) rather than a blit.
  bool FlipDriver() const { return UsesFlip; }

  TDirectDrawSurface Surface;  // the back buffer, 800 x 600 while initialised
  TDXDrawDisplay Display;
  bool AutoInitialize = true;

 private:
  void Notify(TDXDrawNotifyType type);
  void ReleaseDriver();
  void ChangeDisplayMode();
  bool CheckSurfaces();

  struct TListener {
    const void* Listener;
    TDXDrawNotifyEvent Callback;
  };
  std::vector<TListener> Listeners;  // oldest first
  TDXDrawOptions Requested = 0;
  TDXDrawOptions Effective = 0;
  bool IsInitialized = false;
  bool IsBusy = false;
  bool EverInitialized = false;
  bool UsesFlip = false;
  bool WentFullScreen = false;  // this initialisation changed the display mode
  bool PrimaryLost = false;     // the presentation side reported a loss not yet restored
  int NotifyNest = 0;           // above 0: RestoreDisplay does not send 6
};

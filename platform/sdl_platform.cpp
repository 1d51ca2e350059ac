#include "platform/sdl_platform.h"

#include "platform/png_codec.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

namespace plat {
namespace {

// Whether the desktop's opener, xdg-open, is an executable file in one of PATH's folders.
bool OpenerInstalled() {
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "";
  while (!folders.empty()) {
    const size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    if (folder.empty()) folder = ".";
    // Formatted rather than added up: GCC's -O3 takes the string sum for an overlapping copy.
    char file[4096];
    const int length =
        std::snprintf(file, sizeof file, "%.*s/xdg-open", static_cast<int>(folder.size()), folder.data());
    if (length > 0 && static_cast<size_t>(length) < sizeof file && ::access(file, X_OK) == 0) return true;
  }
  return false;
}

// Letters and digits follow the keyboard layout, as the desktop's virtual keys do; the rest go by position.
uint16_t VirtualKey(const SDL_Keysym& key) {
  if (key.sym >= SDLK_a && key.sym <= SDLK_z) return static_cast<uint16_t>('A' + (key.sym - SDLK_a));
  if (key.sym >= SDLK_0 && key.sym <= SDLK_9) return static_cast<uint16_t>('0' + (key.sym - SDLK_0));
  return VirtualKeyOfScan(static_cast<uint16_t>(key.scancode));
}

// --- Ending on SIGTERM and SIGINT ---
// The handler only writes the signal's number into a pipe. A watcher thread turns the first signal into a
// quit event for the message loop, which closes the program in order. When the loop cannot answer -- a
// message box is open, or the orderly end takes longer than kGraceMs -- or a second signal comes, the
// watcher ends the process the way the signal would have. Files are only ever replaced whole by a
// rename (WriteFileAtomically), so ending at any moment leaves them intact.
constexpr int kGraceMs = 2000;
int SignalPipe[2] = {-1, -1};
std::atomic<int> ReceivedSignal{0};
std::atomic<bool> ModalOpen{false};
pid_t ProgramPid = 0;

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] ssize_t written = ::write(SignalPipe[1], &byte, 1);
  errno = saved;
}

[[noreturn]] void DieBy(int sig) {
  ::signal(sig, SIG_DFL);
  ::kill(ProgramPid, sig);
  ::_exit(128 + sig);  // not reached: the default action ends the process
}

void WatchSignals() {
  for (;;) {
    unsigned char byte = 0;
    ssize_t got = ::read(SignalPipe[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1) return;
    const int sig = byte;
    ReceivedSignal.store(sig);
    if (ModalOpen.load()) DieBy(sig);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    pollfd next{SignalPipe[0], POLLIN, 0};
    while (::poll(&next, 1, kGraceMs) < 0 && errno == EINTR) {
    }
    DieBy(sig);
  }
}

// SDL shows a message box from a forked child on X11. The child must not outlive the program, nor
// keep the program's way of handling the two signals.
void InForkedChild() {
  if (!ModalOpen.load()) return;
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != ProgramPid) ::_exit(1);
}

bool CatchTerminationSignals() {
  if (SignalPipe[0] >= 0) return true;
  ProgramPid = ::getpid();
  if (::pipe2(SignalPipe, O_CLOEXEC) != 0) return false;
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A signal the program was started with ignored (SIGINT under nohup or in a script's background)
  // stays ignored.
  for (int sig : {SIGTERM, SIGINT}) {
    struct sigaction old{};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
  ::pthread_atfork(nullptr, nullptr, InForkedChild);
  std::thread(WatchSignals).detach();
  return true;
}

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

// A video driver that shows a window to a person, and what it needs from the environment.
struct TDisplayDriver {
  std::string Name;
  std::string Need;    // "DISPLAY=:0", "DISPLAY not set"; empty when it needs nothing
  bool Usable = true;  // false when it cannot connect and would only print a complaint of its own
};

// SDL's drivers in SDL's order, without the off-screen ones that SDL would otherwise fall back to when
// there is no display. Wayland without a runtime folder cannot connect.
std::vector<TDisplayDriver> DisplayDrivers() {
  std::vector<TDisplayDriver> drivers;
  for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
    TDisplayDriver driver{SDL_GetVideoDriver(i), "", true};
    if (driver.Name == "offscreen" || driver.Name == "dummy" || driver.Name == "evdev") continue;
    const char* variable = driver.Name == "x11"       ? "DISPLAY"
                           : driver.Name == "wayland" ? "WAYLAND_DISPLAY"
                                                      : nullptr;
    if (variable)
      driver.Need = Set(variable) ? std::string(variable) + "=" + std::getenv(variable)
                                  : std::string(variable) + " not set";
    if (driver.Name == "wayland" && !Set("XDG_RUNTIME_DIR") && !Set("WAYLAND_SOCKET")) {
      driver.Need = "XDG_RUNTIME_DIR not set";
      driver.Usable = false;
    }
    drivers.push_back(driver);
  }
  return drivers;
}

using TGlGetString = const unsigned char* (*)(unsigned int);
constexpr unsigned int kGlRenderer = 0x1F01;

class TSdlPlatform final : public TPlatform {
 public:
  ~TSdlPlatform() override {
    for (SDL_GameController* pad : Pads) SDL_GameControllerClose(pad);
    if (Stick) SDL_JoystickClose(Stick);
    if (Upscaled) SDL_DestroyTexture(Upscaled);
    if (UpscaledSurface) SDL_FreeSurface(UpscaledSurface);
    if (Texture) SDL_DestroyTexture(Texture);
    if (Renderer) SDL_DestroyRenderer(Renderer);
    if (Window) SDL_DestroyWindow(Window);
    SDL_Quit();
  }

  void OpenWindow(const std::string& caption) override {
    if (Window) return;
    Normal = ChooseWindowPlacement(Placed ? &Normal : nullptr, UsableAreas());
    // High density: the drawable has the display's own pixels and the picture is scaled into them here,
    // not blurred by the desktop's scaling of a window drawn at its points.
    Window = SDL_CreateWindow(caption.c_str(), Normal.X, Normal.Y, Normal.Width, Normal.Height,
                              SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!Window) return;
    SDL_SetWindowMinimumSize(Window, kMinWindowWidth, kMinWindowHeight);
    ChoosePresentation();
    if (Normal.Maximized) SDL_MaximizeWindow(Window);
    SDL_RaiseWindow(Window);
  }

  bool WindowOpen() const override { return Window != nullptr; }

  void PlaceWindow(const TWindowPlacement& placement) override {
    Normal = placement;
    Placed = true;
    if (Window && !IsFullScreen) ApplyNormal();
  }

  TWindowPlacement WindowPlacement() const override {
    if (!Window) return Normal;
    const Uint32 flags = SDL_GetWindowFlags(Window);
    if (IsFullScreen) return Normal;
    if ((flags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED)) == 0) return Current();
    TWindowPlacement placement = Normal;
    placement.Maximized = (flags & SDL_WINDOW_MAXIMIZED) != 0;
    return placement;
  }

  void SetFullScreen(bool fullScreen) override {
    if (!Window || fullScreen == IsFullScreen) return;
    if (fullScreen) {
      const Uint32 flags = SDL_GetWindowFlags(Window);
      if ((flags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED)) == 0) Normal = Current();
      Normal.Maximized = (flags & SDL_WINDOW_MAXIMIZED) != 0;
      // A desktop that refuses leaves the window as it was; the display reports the failed mode change.
      if (SDL_SetWindowFullscreen(Window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) return;
      IsFullScreen = true;
    } else {
      SDL_SetWindowFullscreen(Window, 0);
      IsFullScreen = false;
      ApplyNormal();
    }
  }

  bool FullScreen() const override { return IsFullScreen; }

  void Present(const uint32_t* pixels, int pitch) override {
    if (!Window) return;
    const TRectArea fit = PictureRect();
    const SDL_Rect dst{fit.X, fit.Y, fit.Width, fit.Height};
    const bool sharp = WholeMultiple(fit);
    if (Renderer) {
      SDL_UpdateTexture(Texture, nullptr, pixels, pitch * 4);
      SDL_Texture* source = sharp ? Texture : SmoothSource(dst);
      if (source == Texture) SDL_SetTextureScaleMode(Texture, sharp ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
      SDL_SetRenderDrawColor(Renderer, 0, 0, 0, 255);
      SDL_RenderClear(Renderer);
      SDL_RenderCopy(Renderer, source, nullptr, &dst);
      SDL_RenderPresent(Renderer);
      return;
    }
    SDL_Surface* target = SDL_GetWindowSurface(Window);
    if (!target) return;
    // A surface over the caller's pixels: no copy until the blit into the window.
    SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), kFrameWidth,
                                                            kFrameHeight, 32, pitch * 4, SDL_PIXELFORMAT_RGB888);
    if (!frame) return;
    FillBars(target, dst);
    SDL_Rect place = dst;  // the blits write back the rectangle they drew
    if (dst.w == kFrameWidth && dst.h == kFrameHeight) {
      SDL_BlitSurface(frame, nullptr, target, &place);
    } else if (sharp || !BlitSmooth(frame, target, dst)) {
      SDL_BlitScaled(frame, nullptr, target, &place);
    }
    SDL_FreeSurface(frame);
    SDL_UpdateWindowSurface(Window);
  }

  bool TakePresentationLost() override {
    bool lost = PresentationLost;
    PresentationLost = false;
    return lost;
  }

  void SetIcon(const std::string& pngPath) override {
    TPngImage image;
    std::string error;
    if (!Window || !ReadPng(pngPath, image, error, true)) return;
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(image.Pixels.data(), image.Width, image.Height, 32,
                                                           image.Width * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!icon) return;
    SDL_SetWindowIcon(Window, icon);
    SDL_FreeSurface(icon);
  }

  void Minimize() override {
    if (Window) SDL_MinimizeWindow(Window);
  }

  bool Minimized() const override {
    return Window && (SDL_GetWindowFlags(Window) & SDL_WINDOW_MINIMIZED) != 0;
  }

  bool Foreground() const override {
    return Window && (SDL_GetWindowFlags(Window) & SDL_WINDOW_INPUT_FOCUS) != 0;
  }

  int ShowCursor(bool show) override {
    CursorCount += show ? 1 : -1;
    SDL_ShowCursor(CursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return CursorCount;
  }

  void SetCursorPos(int x, int y) override {
    if (!Window) return;
    const TRectArea dst = PictureRect();
    int ox = 0, oy = 0, ww = 0, wh = 0;
    OutputSize(ox, oy);
    SDL_GetWindowSize(Window, &ww, &wh);
    // Picture to output pixels, then to the window's points.
    int px = dst.X + x * dst.Width / kFrameWidth;
    int py = dst.Y + y * dst.Height / kFrameHeight;
    if (ox > 0 && oy > 0) {
      px = px * ww / ox;
      py = py * wh / oy;
    }
    SDL_WarpMouseInWindow(Window, px, py);
  }

  void GetCursorPos(int& x, int& y) const override {
    int wx = 0, wy = 0;
    SDL_GetMouseState(&wx, &wy);
    ToPicture(wx, wy, x, y);
  }

  // While the box is open a signal ends the program at once; once one has come, no box opens. A desktop
  // that cannot show the box (SDL's X11 box needs the core fonts of xfonts-base) gets the text on
  // standard error instead, so that the message is not lost.
  void MessageBox(const std::string& text, const std::string& caption) override {
    ModalOpen.store(true);
    if (ReceivedSignal.load() == 0 &&
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption.c_str(), text.c_str(), Window) != 0)
      std::fprintf(stderr, "%s: %s (no message box: %s)\n", caption.c_str(), text.c_str(), SDL_GetError());
    ModalOpen.store(false);
  }

  bool PollEvent(TEvent& event) override {
    if (!Pending.empty()) {
      event = Pending.front();
      Pending.erase(Pending.begin());
      return true;
    }
    SDL_Event raw;
    while (SDL_PollEvent(&raw)) {
      if (Translate(raw, event)) return true;
    }
    return false;
  }

  void WaitEvent(uint32_t timeoutMs) override {
    if (!Pending.empty()) return;
    SDL_WaitEventTimeout(nullptr, static_cast<int>(std::min<uint32_t>(timeoutMs, 1000)));
  }

  uint32_t Milliseconds() override { return SDL_GetTicks(); }

  uint32_t ClockSeed() override {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }

  void KeyboardState(bool* state) override {
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    for (int i = 0; i < kScanCount; ++i) state[i] = i < count && keys[i] != 0;
  }

  TJoystickState Joystick(int index) override {
    TJoystickState state;
    if (index != 0 || !Stick) return state;
    SDL_JoystickUpdate();
    state.Present = true;
    state.Min = 0;
    state.Max = 65535;
    int axes = SDL_JoystickNumAxes(Stick);
    for (int a = 0; a < 3; ++a)
      state.Axis[a] = a < axes ? SDL_JoystickGetAxis(Stick, a) + 32768 : 32767;
    int buttons = std::min(SDL_JoystickNumButtons(Stick), 32);
    for (int b = 0; b < buttons; ++b)
      if (SDL_JoystickGetButton(Stick, b)) state.Buttons |= 1u << b;
    return state;
  }

  TPadState GamePad(int index) override {
    TPadState state;
    if (index < 0 || static_cast<size_t>(index) >= Pads.size()) return state;
    SDL_GameController* pad = Pads[static_cast<size_t>(index)];
    SDL_GameControllerUpdate();
    state.Present = true;
    state.LeftX = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTX);
    state.LeftY = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTY);
    for (const auto& [sdl, ours] : kPadButtons)
      if (SDL_GameControllerGetButton(pad, sdl)) state.Buttons |= PadBit(ours);
    return state;
  }

  std::unique_ptr<TAudioOutput> OpenAudio() override { return OpenSdlAudio(); }

  // SDL hands the address to xdg-open in a child and reports success once the child is started, even
  // when xdg-open is not there to run; a desktop without it has no way to open a page, so that is said.
  bool OpenDocument(const std::string& target) override {
    if (!OpenerInstalled()) return false;
    std::string url = target;
    if (url.find("://") == std::string::npos && url.rfind("mailto:", 0) != 0) url = "file://" + url;
    return SDL_OpenURL(url.c_str()) == 0;
  }

 private:
  // Prefers a renderer with vertical-blank waits on real graphics hardware. A software GL (as under
  // Xvfb) costs far more per frame than copying into the window surface, which it then falls back to.
  void ChoosePresentation() {
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    Renderer = SDL_CreateRenderer(Window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (Renderer && SoftwareGl()) {
      SDL_DestroyRenderer(Renderer);
      Renderer = nullptr;
    }
    // Without a renderer the window surface must be the desktop's own shared memory, not another
    // texture drawn through the same software GL.
    if (!Renderer) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (Renderer) {
      Texture = SDL_CreateTexture(Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, kFrameWidth,
                                  kFrameHeight);
      if (!Texture) {
        SDL_DestroyRenderer(Renderer);
        Renderer = nullptr;
      }
    }
  }

  bool SoftwareGl() const {
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(Renderer, &info) != 0) return true;
    if (std::string_view(info.name) != "opengl") return (info.flags & SDL_RENDERER_SOFTWARE) != 0;
    auto glGetString = reinterpret_cast<TGlGetString>(SDL_GL_GetProcAddress("glGetString"));
    if (!glGetString) return true;
    const unsigned char* name = glGetString(kGlRenderer);
    if (!name) return true;
    std::string_view renderer(reinterpret_cast<const char*>(name));
    return renderer.find("llvmpipe") != std::string_view::npos ||
           renderer.find("softpipe") != std::string_view::npos ||
           renderer.find("Software") != std::string_view::npos;
  }

  static std::vector<TRectArea> UsableAreas() {
    std::vector<TRectArea> areas;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
      SDL_Rect bounds;
      if (SDL_GetDisplayUsableBounds(i, &bounds) == 0) areas.push_back({bounds.x, bounds.y, bounds.w, bounds.h});
    }
    return areas;
  }

  // The window as it is now. A new window's position is where the window manager puts its frame's corner,
  // while SDL reports and sets the client area's; so the placement holds the frame's corner.
  TWindowPlacement Current() const {
    TWindowPlacement now;
    int top = 0, left = 0;
    if (SDL_GetWindowBordersSize(Window, &top, &left, nullptr, nullptr) != 0) top = left = 0;
    SDL_GetWindowPosition(Window, &now.X, &now.Y);
    now.X -= left;
    now.Y -= top;
    SDL_GetWindowSize(Window, &now.Width, &now.Height);
    return now;
  }

  void ApplyNormal() {
    if (SDL_GetWindowFlags(Window) & SDL_WINDOW_MAXIMIZED) SDL_RestoreWindow(Window);
    int top = 0, left = 0;
    if (SDL_GetWindowBordersSize(Window, &top, &left, nullptr, nullptr) != 0) top = left = 0;
    SDL_SetWindowSize(Window, Normal.Width, Normal.Height);
    SDL_SetWindowPosition(Window, Normal.X + left, Normal.Y + top);
    if (Normal.Maximized) SDL_MaximizeWindow(Window);
  }

  // Keeps the placement the window returns to from maximised or full screen (at the event's time).
  void NoteNormal(uint32_t time) {
    if (IsFullScreen ||
        (SDL_GetWindowFlags(Window) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED | SDL_WINDOW_FULLSCREEN)))
      return;
    const TWindowPlacement now = Current();
    if (now == Normal) return;
    BeforeNormal = Normal;
    Normal = now;
    NormalTime = time;
  }

  // A window manager may report the maximised size just before it reports the maximise (or the other
  // way round). A change of Normal to the maximised size within the last second was that one; the
  // placement before it stays.
  void NoteMaximized(uint32_t time) {
    int width = 0, height = 0;
    SDL_GetWindowSize(Window, &width, &height);
    if (BeforeNormal.Width > 0 && time - NormalTime < 1000 && Normal.Width == width && Normal.Height == height)
      Normal = BeforeNormal;
  }

  void OutputSize(int& width, int& height) const {
    width = kFrameWidth;
    height = kFrameHeight;
    if (Renderer)
      SDL_GetRendererOutputSize(Renderer, &width, &height);
    else
      SDL_GetWindowSizeInPixels(Window, &width, &height);
  }

  // Where the picture lands in the window's pixels.
  TRectArea PictureRect() const {
    int width = 0, height = 0;
    OutputSize(width, height);
    return FitPicture(width, height);
  }

  // The whole multiple of the picture at or above its size in dst (at most what the renderer holds).
  int SmoothFactor(const SDL_Rect& dst, int maxWidth, int maxHeight) const {
    int factor = (dst.w + kFrameWidth - 1) / kFrameWidth;
    if (maxWidth > 0) factor = std::min(factor, maxWidth / kFrameWidth);
    if (maxHeight > 0) factor = std::min(factor, maxHeight / kFrameHeight);
    return std::max(factor, 1);
  }

  // A size that is no whole multiple: the picture is first enlarged pixel for pixel to the next whole
  // multiple, then filtered down to its place, so that each pixel stays a sharp square with at most one
  // blended row or column at its edges, instead of the uneven pixels of nearest-pixel scaling or the
  // blur of filtering straight from 800 x 600.
  SDL_Texture* SmoothSource(const SDL_Rect& dst) {
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(Renderer, &info);
    const int factor = SmoothFactor(dst, info.max_texture_width, info.max_texture_height);
    if (factor == 1 || !SDL_RenderTargetSupported(Renderer)) return Texture;
    int width = 0, height = 0;
    if (Upscaled && (SDL_QueryTexture(Upscaled, nullptr, nullptr, &width, &height) != 0 ||
                     width != kFrameWidth * factor)) {
      SDL_DestroyTexture(Upscaled);
      Upscaled = nullptr;
    }
    if (!Upscaled) {
      Upscaled = SDL_CreateTexture(Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_TARGET,
                                   kFrameWidth * factor, kFrameHeight * factor);
      if (!Upscaled) return Texture;
      SDL_SetTextureScaleMode(Upscaled, SDL_ScaleModeLinear);
    }
    SDL_SetTextureScaleMode(Texture, SDL_ScaleModeNearest);
    if (SDL_SetRenderTarget(Renderer, Upscaled) != 0) return Texture;
    SDL_RenderCopy(Renderer, Texture, nullptr, nullptr);
    SDL_SetRenderTarget(Renderer, nullptr);
    return Upscaled;
  }

  // The same for the window surface. False when the surfaces do not allow it (filtering needs 32 bits).
  bool BlitSmooth(SDL_Surface* frame, SDL_Surface* target, const SDL_Rect& dst) {
    const int factor = SmoothFactor(dst, 0, 0);
    if (UpscaledSurface &&
        (UpscaledSurface->w != kFrameWidth * factor || UpscaledSurface->format->format != target->format->format)) {
      SDL_FreeSurface(UpscaledSurface);
      UpscaledSurface = nullptr;
    }
    if (!UpscaledSurface)
      UpscaledSurface = SDL_CreateRGBSurfaceWithFormat(0, kFrameWidth * factor, kFrameHeight * factor, 32,
                                                       target->format->format);
    if (!UpscaledSurface) return false;
    if (SDL_BlitScaled(frame, nullptr, UpscaledSurface, nullptr) != 0) return false;
    return SDL_SoftStretchLinear(UpscaledSurface, nullptr, target, &dst) == 0;
  }

  // Black where the picture does not reach.
  static void FillBars(SDL_Surface* target, const SDL_Rect& dst) {
    const SDL_Rect bars[] = {{0, 0, target->w, dst.y},
                             {0, dst.y + dst.h, target->w, target->h - dst.y - dst.h},
                             {0, dst.y, dst.x, dst.h},
                             {dst.x + dst.w, dst.y, target->w - dst.x - dst.w, dst.h}};
    for (const SDL_Rect& bar : bars)
      if (bar.w > 0 && bar.h > 0) SDL_FillRect(target, &bar, 0);
  }

  // From the window's points to the picture's coordinates.
  void ToPicture(int wx, int wy, int& x, int& y) const {
    if (!Window) {
      x = wx;
      y = wy;
      return;
    }
    const TRectArea dst = PictureRect();
    int ww = 0, wh = 0, ow = 0, oh = 0;
    SDL_GetWindowSize(Window, &ww, &wh);
    OutputSize(ow, oh);
    // Window points to output pixels (they differ on high-density displays).
    if (ww > 0 && wh > 0) {
      wx = wx * ow / ww;
      wy = wy * oh / wh;
    }
    x = dst.Width > 0 ? FloorDiv((wx - dst.X) * kFrameWidth, dst.Width) : wx;
    y = dst.Height > 0 ? FloorDiv((wy - dst.Y) * kFrameHeight, dst.Height) : wy;
  }

  // Rounds towards minus infinity, so that a point in the bar left of or above the picture is outside it.
  static int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

  bool InPicture(int x, int y) const { return x >= 0 && y >= 0 && x < kFrameWidth && y < kFrameHeight; }

  bool Translate(const SDL_Event& raw, TEvent& event) {
    event = TEvent{};
    switch (raw.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        event.Kind = raw.type == SDL_KEYDOWN ? TEventKind::KeyDown : TEventKind::KeyUp;
        event.Key = VirtualKey(raw.key.keysym);
        event.Alt = (raw.key.keysym.mod & KMOD_ALT) != 0;
        return event.Key != 0;
      case SDL_TEXTINPUT: {
        // One key-press per character; only 8-bit characters reach the game.
        const char* text = raw.text.text;
        for (size_t i = 0; text[i]; ++i) {
          if (static_cast<unsigned char>(text[i]) >= 0x80) continue;
          TEvent press;
          press.Kind = TEventKind::KeyPress;
          press.Char = text[i];
          Pending.push_back(press);
        }
        if (Pending.empty()) return false;
        event = Pending.front();
        Pending.erase(Pending.begin());
        return true;
      }
      case SDL_MOUSEMOTION:
        event.Kind = TEventKind::MouseMove;
        ToPicture(raw.motion.x, raw.motion.y, event.X, event.Y);
        return true;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        event.Kind = raw.type == SDL_MOUSEBUTTONDOWN ? TEventKind::MouseDown : TEventKind::MouseUp;
        ToPicture(raw.button.x, raw.button.y, event.X, event.Y);
        if (raw.button.button == SDL_BUTTON_LEFT) event.Button = TMouseButton::Left;
        else if (raw.button.button == SDL_BUTTON_RIGHT) event.Button = TMouseButton::Right;
        else if (raw.button.button == SDL_BUTTON_MIDDLE) event.Button = TMouseButton::Middle;
        else return false;
        if (event.Button == TMouseButton::Left) {
          if (event.Kind == TEventKind::MouseDown) {
            LeftPressedInside = InPicture(event.X, event.Y);
          } else {
            if (LeftPressedInside && InPicture(event.X, event.Y)) {
              TEvent click;
              click.Kind = TEventKind::Click;
              click.X = event.X;
              click.Y = event.Y;
              Pending.push_back(click);
            }
            LeftPressedInside = false;
          }
        }
        return true;
      }
      case SDL_WINDOWEVENT:
        switch (raw.window.event) {
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (Active) return false;
            Active = true;
            event.Kind = TEventKind::Activate;
            return true;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            if (!Active) return false;
            Active = false;
            event.Kind = TEventKind::Deactivate;
            return true;
          case SDL_WINDOWEVENT_MAXIMIZED:
            // Maximised is simply large; the picture follows. Alt+Enter remains the way to full screen.
            NoteMaximized(raw.window.timestamp);
            return false;
          case SDL_WINDOWEVENT_MOVED:
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            NoteNormal(raw.window.timestamp);
            return false;
          case SDL_WINDOWEVENT_CLOSE:
            event.Kind = TEventKind::Close;
            return true;
          default:
            return false;
        }
      case SDL_QUIT:
        // With the last-window-close rule off, this comes only from SIGINT or SIGTERM.
        event.Kind = TEventKind::Terminate;
        return true;
      case SDL_RENDER_TARGETS_RESET:
        PresentationLost = true;
        return false;
      case SDL_RENDER_DEVICE_RESET:
        // Every texture of the renderer is gone: make the frame's texture again.
        PresentationLost = true;
        if (Upscaled) SDL_DestroyTexture(Upscaled);
        Upscaled = nullptr;
        if (Renderer) {
          if (Texture) SDL_DestroyTexture(Texture);
          Texture = SDL_CreateTexture(Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, kFrameWidth,
                                      kFrameHeight);
          if (!Texture) {
            SDL_DestroyRenderer(Renderer);
            Renderer = nullptr;
            SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
          }
        }
        return false;
      case SDL_CONTROLLERDEVICEADDED:
        OpenPad(raw.cdevice.which);
        return false;
      case SDL_CONTROLLERDEVICEREMOVED:
        for (auto pad = Pads.begin(); pad != Pads.end(); ++pad)
          if (SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(*pad)) == raw.cdevice.which) {
            SDL_GameControllerClose(*pad);
            Pads.erase(pad);
            break;
          }
        return false;
      case SDL_CONTROLLERBUTTONDOWN:
      case SDL_CONTROLLERBUTTONUP:
        for (const auto& [sdl, ours] : kPadButtons)
          if (raw.cbutton.button == sdl)
            return PadButtonEvent(ours, raw.type == SDL_CONTROLLERBUTTONDOWN, event);
        return false;
      case SDL_JOYDEVICEADDED:
        if (!Stick) Stick = SDL_JoystickOpen(raw.jdevice.which);
        return false;
      case SDL_JOYDEVICEREMOVED:
        if (Stick && SDL_JoystickInstanceID(Stick) == raw.jdevice.which) {
          SDL_JoystickClose(Stick);
          Stick = nullptr;
          if (SDL_NumJoysticks() > 0) Stick = SDL_JoystickOpen(0);
        }
        return false;
      default:
        return false;
    }
  }

  // A pad is opened once, whether it was there at start or plugged in later (SDL reports both as added).
  void OpenPad(int deviceIndex) {
    SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    for (SDL_GameController* pad : Pads)
      if (SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(pad)) == id) return;
    if (SDL_GameController* pad = SDL_GameControllerOpen(deviceIndex)) Pads.push_back(pad);
  }

  static constexpr std::pair<SDL_GameControllerButton, TPadButton> kPadButtons[] = {
      {SDL_CONTROLLER_BUTTON_A, TPadButton::South},
      {SDL_CONTROLLER_BUTTON_B, TPadButton::East},
      {SDL_CONTROLLER_BUTTON_X, TPadButton::West},
      {SDL_CONTROLLER_BUTTON_Y, TPadButton::North},
      {SDL_CONTROLLER_BUTTON_BACK, TPadButton::Back},
      {SDL_CONTROLLER_BUTTON_GUIDE, TPadButton::Guide},
      {SDL_CONTROLLER_BUTTON_START, TPadButton::Start},
      {SDL_CONTROLLER_BUTTON_LEFTSTICK, TPadButton::LeftStick},
      {SDL_CONTROLLER_BUTTON_RIGHTSTICK, TPadButton::RightStick},
      {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, TPadButton::LeftShoulder},
      {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, TPadButton::RightShoulder},
      {SDL_CONTROLLER_BUTTON_DPAD_UP, TPadButton::DpadUp},
      {SDL_CONTROLLER_BUTTON_DPAD_DOWN, TPadButton::DpadDown},
      {SDL_CONTROLLER_BUTTON_DPAD_LEFT, TPadButton::DpadLeft},
      {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, TPadButton::DpadRight},
  };

  SDL_Window* Window = nullptr;
  SDL_Renderer* Renderer = nullptr;
  SDL_Texture* Texture = nullptr;                // the frame, 800 x 600
  SDL_Texture* Upscaled = nullptr;               // the frame at a whole multiple, for sizes between them
  SDL_Surface* UpscaledSurface = nullptr;        // the same without a renderer
  TWindowPlacement Normal;                       // where window mode puts the window
  TWindowPlacement BeforeNormal;                 // the one before the last change of Normal
  uint32_t NormalTime = 0;                       // when Normal last changed (SDL's milliseconds)
  bool Placed = false;                           // Normal was given before the window opened
  SDL_Joystick* Stick = nullptr;
  std::vector<SDL_GameController*> Pads;  // in the order they came
  std::vector<TEvent> Pending;            // events made from one SDL event that carried several
  bool IsFullScreen = false;
  bool PresentationLost = false;
  bool Active = true;
  bool LeftPressedInside = false;
  int CursorCount = 0;
};

}  // namespace

std::unique_ptr<TPlatform> CreateSdlPlatform(std::string& error) {
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // SDL_VIDEODRIVER, when set, is the user's choice and is taken as it is (an off-screen one included).
  std::string tried;
  if (!Set("SDL_VIDEODRIVER")) {
    std::string list;
    for (const TDisplayDriver& driver : DisplayDrivers()) {
      tried += (tried.empty() ? "" : ", ") + driver.Name + (driver.Need.empty() ? "" : " (" + driver.Need + ")");
      if (driver.Usable) list += (list.empty() ? "" : ",") + driver.Name;
    }
    // An empty hint would mean "any driver"; a name no driver has means none.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, list.empty() ? "none" : list.c_str());
  }
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER | SDL_INIT_EVENTS) != 0) {
    error = tried.empty() ? std::string(SDL_GetError()) : "tried " + tried;
    SDL_Quit();
    return nullptr;
  }
  if (!CatchTerminationSignals()) {
    error = std::string("cannot watch for signals: ") + std::strerror(errno);
    SDL_Quit();
    return nullptr;
  }
  return std::make_unique<TSdlPlatform>();
}

int TerminationSignal() { return ReceivedSignal.load(); }

void EndLikeTheSignal() {
  if (int sig = ReceivedSignal.load()) DieBy(sig);
}

}  // namespace plat

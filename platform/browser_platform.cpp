#include "platform/browser_platform.h"

#include <emscripten.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/browser_audio.h"

// The page's side, in browser_platform.js.
extern "C" {
void pellorin_page_open(const char* caption);
void pellorin_page_present(const uint32_t* rgba);
// The next event in fields: kind (0: none, else TEventKind + 1), scan, letter or digit of the layout
// (0: none), alt, char, button, x, y.
int pellorin_page_poll(int32_t* fields);
void pellorin_page_keys(uint8_t* state, int count);
double pellorin_page_now();
double pellorin_page_seed();
void pellorin_page_set_fullscreen(int fullScreen);
int pellorin_page_fullscreen();
void pellorin_page_message(const char* text, const char* caption);
int pellorin_page_modal_open();
int pellorin_page_open_url(const char* url);
void pellorin_page_show_cursor(int visible);
void pellorin_page_pointer(int32_t* xy);
void pellorin_page_set_pointer(int x, int y);
int pellorin_page_focused();
int pellorin_page_gamepad(int index, int32_t* state);
int pellorin_page_storage();
void pellorin_page_ended();
}

namespace plat {
namespace {

// Frames of the game's loop each animation frame may run at most: a step that never asks to wait (the
// program behind its clock) still gives the page its frame.
constexpr int kMaxStepsPerFrame = 8;

class TBrowserPlatform;
TBrowserPlatform* Current = nullptr;

class TBrowserPlatform : public TPlatform {
 public:
  TBrowserPlatform() { Current = this; }
  ~TBrowserPlatform() override {
    if (Current == this) Current = nullptr;
  }

  void OpenWindow(const std::string& caption) override {
    pellorin_page_open(caption.c_str());
    IsOpen = true;
  }
  bool WindowOpen() const override { return IsOpen; }
  // The page is the window: its size and place are the browser's.
  void PlaceWindow(const TWindowPlacement& placement) override { Placement = placement; }
  TWindowPlacement WindowPlacement() const override { return Placement; }
  void SetFullScreen(bool fullScreen) override { pellorin_page_set_fullscreen(fullScreen ? 1 : 0); }
  bool FullScreen() const override { return pellorin_page_fullscreen() != 0; }

  void Present(const uint32_t* pixels, int pitch) override {
    // XRGB with blue in the low byte to the canvas's RGBA bytes.
    Rgba.resize(static_cast<size_t>(kFrameWidth) * kFrameHeight);
    for (int y = 0; y < kFrameHeight; ++y) {
      const uint32_t* in = pixels + static_cast<ptrdiff_t>(y) * pitch;
      uint32_t* out = Rgba.data() + static_cast<ptrdiff_t>(y) * kFrameWidth;
      for (int x = 0; x < kFrameWidth; ++x) {
        const uint32_t p = in[x];
        out[x] = 0xFF000000u | ((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu);
      }
    }
    pellorin_page_present(Rgba.data());
    // The canvas shows it at the next animation frame: as after the desktop's vertical blank, the
    // program goes on from there.
    WaitAsked = true;
  }
  bool TakePresentationLost() override { return false; }
  void SetIcon(const std::string&) override {}  // the page's icon is the site's
  void Minimize() override {}
  bool Minimized() const override { return false; }
  bool Foreground() const override { return pellorin_page_focused() != 0; }

  int ShowCursor(bool show) override {
    CursorCount += show ? 1 : -1;
    pellorin_page_show_cursor(CursorCount >= 0 ? 1 : 0);
    return CursorCount;
  }
  // A page may not move the pointer; the game's own idea of where it is follows.
  void SetCursorPos(int x, int y) override { pellorin_page_set_pointer(x, y); }
  void GetCursorPos(int& x, int& y) const override {
    int32_t xy[2] = {0, 0};
    pellorin_page_pointer(xy);
    x = xy[0];
    y = xy[1];
  }

  void MessageBox(const std::string& text, const std::string& caption) override {
    pellorin_page_message(text.c_str(), caption.c_str());
    WaitAsked = true;
  }

  bool PollEvent(TEvent& event) override {
    if (TakePending(event)) return true;
    int32_t fields[8] = {};
    while (pellorin_page_poll(fields)) {
      event = TEvent{};
      event.Kind = static_cast<TEventKind>(fields[0] - 1);
      if (event.Kind == TEventKind::KeyDown || event.Kind == TEventKind::KeyUp) {
        event.Key = fields[2] != 0 ? static_cast<uint16_t>(fields[2]) : VirtualKeyOfScan(static_cast<uint16_t>(fields[1]));
        event.Alt = fields[3] != 0;
        if (event.Key == 0) continue;
      }
      event.Char = static_cast<char>(fields[4]);
      event.Button = static_cast<TMouseButton>(fields[5]);
      event.X = fields[6];
      event.Y = fields[7];
      return true;
    }
    // The pad is read once the page's events are taken: once a pass of the loop, not once an event.
    PollPad();
    return TakePending(event);
  }
  void WaitEvent(uint32_t) override { WaitAsked = true; }

  uint32_t Milliseconds() override { return static_cast<uint32_t>(static_cast<uint64_t>(pellorin_page_now())); }
  uint32_t ClockSeed() override { return static_cast<uint32_t>(static_cast<uint64_t>(pellorin_page_seed())); }

  void KeyboardState(bool* state) override {
    uint8_t keys[kScanCount] = {};
    pellorin_page_keys(keys, kScanCount);
    for (int i = 0; i < kScanCount; ++i) state[i] = keys[i] != 0;
  }
  TJoystickState Joystick(int) override { return {}; }  // pads are read as game controllers
  TPadState GamePad(int index) override {
    int32_t raw[4] = {};
    TPadState pad;
    if (!pellorin_page_gamepad(index, raw)) return pad;
    pad.Present = true;
    pad.LeftX = static_cast<int16_t>(std::clamp(raw[1], -32768, 32767));
    pad.LeftY = static_cast<int16_t>(std::clamp(raw[2], -32768, 32767));
    pad.Buttons = static_cast<uint32_t>(raw[3]);
    return pad;
  }

  std::unique_ptr<TAudioOutput> OpenAudio() override { return OpenBrowserAudio(); }

  bool OpenDocument(const std::string& target) override { return pellorin_page_open_url(target.c_str()) != 0; }

  bool TakeWaitAsked() {
    const bool asked = WaitAsked;
    WaitAsked = false;
    return asked;
  }

 private:
  bool TakePending(TEvent& event) {
    if (Pending.empty()) return false;
    event = Pending.front();
    Pending.pop_front();
    return true;
  }

  // A pad's buttons that stand for keys come as events, on their changes.
  void PollPad() {
    const TPadState pad = GamePad(0);
    const uint32_t changed = pad.Buttons ^ PadButtons;
    PadButtons = pad.Buttons;
    for (unsigned b = 0; b <= static_cast<unsigned>(TPadButton::DpadRight); ++b) {
      const auto button = static_cast<TPadButton>(b);
      TEvent event;
      if ((changed & PadBit(button)) && PadButtonEvent(button, (pad.Buttons & PadBit(button)) != 0, event))
        Pending.push_back(event);
    }
  }

  bool IsOpen = false;
  bool WaitAsked = false;
  int CursorCount = 0;
  uint32_t PadButtons = 0;
  TWindowPlacement Placement;
  std::vector<uint32_t> Rgba;
  std::deque<TEvent> Pending;
};

std::function<bool()>* FrameStep = nullptr;

void RunFrame(void*) {
  // Before the modal check: songs and sounds go on under a message box, as on the desktop.
  PumpBrowserAudio();
  if (!FrameStep || pellorin_page_modal_open()) return;
  if (Current) Current->TakeWaitAsked();
  for (int i = 0; i < kMaxStepsPerFrame; ++i) {
    if (!(*FrameStep)()) {
      emscripten_cancel_main_loop();
      delete FrameStep;
      FrameStep = nullptr;
      pellorin_page_ended();
      return;
    }
    if (!Current || Current->TakeWaitAsked()) return;
  }
}

}  // namespace

std::unique_ptr<TPlatform> CreateBrowserPlatform() {
  // emscripten's C library starts with a mask of 0777, which would make every file written afterwards
  // unreadable and unwritable to the program itself: the usual mask instead.
  ::umask(022);
  return std::make_unique<TBrowserPlatform>();
}

void RunFrameLoop(std::function<bool()> step) {
  FrameStep = new std::function<bool()>(std::move(step));
  emscripten_set_main_loop_arg(RunFrame, nullptr, 0, false);
}

bool PersistentStorage() { return pellorin_page_storage() != 0; }

}  // namespace plat

// Game pads: on the headless platform a pad's stick and buttons become the game's input states (its
// Start button pausing a game is among the game's scenarios); on SDL a virtual pad (SDL's own device layer)
// is found when plugged in, read through SDL's mapping, and let go when unplugged.
#include <SDL.h>

#include <cstdlib>

#include "engine/input.h"
#include "platform/sdl_platform.h"
#include "tests/support/headless.h"

namespace {

using plat::PadBit;
using plat::TPadButton;
using plat::TPadState;

class GamePad : public THeadlessTest {
 protected:
  TInputStates Read(const TPadState& pad) {
    Headless.SetGamePad(0, pad);
    Input.UpdateInput();
    return Input.States;
  }
  TDXInput Input;
};

TPadState Pad(int16_t x, int16_t y, uint32_t buttons = 0) { return {true, x, y, buttons}; }

TEST_F(GamePad, StickAndButtonsDriveTheInputStates) {
  const struct {
    const char* What;
    TPadState Pad;
    TInputStates States;
  } cases[] = {
      {"at rest", Pad(0, 0), 0},
      {"half way right: not yet", Pad(16384, 0), 0},
      {"more than half way right", Pad(20000, 0), InputBit(isRight)},
      {"more than half way up and left", Pad(-20000, -20000), InputBit(isUp) | InputBit(isLeft)},
      {"full down", Pad(0, 32767), InputBit(isDown)},
      {"d-pad up over a resting stick", Pad(0, 0, PadBit(TPadButton::DpadUp)), InputBit(isUp)},
      {"d-pad left wins over the stick pushed right", Pad(32767, 0, PadBit(TPadButton::DpadLeft)),
       InputBit(isLeft)},
      {"d-pad down and right", Pad(0, 0, PadBit(TPadButton::DpadDown) | PadBit(TPadButton::DpadRight)),
       InputBit(isDown) | InputBit(isRight)},
      {"South fires", Pad(0, 0, PadBit(TPadButton::South)), InputBit(isButton1)},
      {"East drops bombs", Pad(0, 0, PadBit(TPadButton::East)), InputBit(isButton2)},
      {"West drops bombs", Pad(0, 0, PadBit(TPadButton::West)), InputBit(isButton2)},
      {"North, shoulders, Back and Start are no states",
       Pad(0, 0,
           PadBit(TPadButton::North) | PadBit(TPadButton::LeftShoulder) | PadBit(TPadButton::RightShoulder) |
               PadBit(TPadButton::Back) | PadBit(TPadButton::Start)),
       0},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.Pad), c.States) << c.What;
}

TEST_F(GamePad, APadStandsInForTheRawJoystickAndNothingWithoutTheFocus) {
  plat::TJoystickState stick;
  stick.Present = true;
  stick.Axis[0] = 0;  // the raw joystick held full left
  stick.Axis[1] = stick.Axis[2] = 32767;
  Headless.SetJoystick(0, stick);
  Input.UpdateInput();
  EXPECT_EQ(Input.States, InputBit(isLeft));
  EXPECT_EQ(Read(Pad(0, 0, PadBit(TPadButton::South))), InputBit(isButton1));
  Headless.IsForeground = false;
  EXPECT_EQ(Read(Pad(32767, 0, PadBit(TPadButton::South))), 0u);
}

// SDL's virtual pads are real devices to SDL's game controller layer, which maps them like a known pad.
class SdlGamePad : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    std::string error;
    Platform = plat::CreateSdlPlatform(error);
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(Platform) << error;
  }
  // The events waiting now, as the program would take them.
  std::vector<plat::TEvent> Events() {
    std::vector<plat::TEvent> events;
    plat::TEvent event;
    for (int i = 0; i < 10; ++i) {
      while (Platform->PollEvent(event)) events.push_back(event);
      SDL_Delay(5);
    }
    return events;
  }
  std::unique_ptr<plat::TPlatform> Platform;
};

TEST_F(SdlGamePad, APadPluggedInIsReadAndItsStartIsThePauseKey) {
  EXPECT_FALSE(Platform->GamePad(0).Present);
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "Pellorin test pad";
  const int device = SDL_JoystickAttachVirtualEx(&desc);
  ASSERT_GE(device, 0) << SDL_GetError();
  SDL_Joystick* joystick = SDL_JoystickOpen(device);
  ASSERT_NE(joystick, nullptr) << SDL_GetError();
  Events();
  ASSERT_TRUE(Platform->GamePad(0).Present) << "the plugged-in pad was not opened";

  SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTX, 30000);
  SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTY, -20000);
  SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, 1);
  SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_X, 1);
  SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_START, 1);
  std::vector<plat::TEvent> events = Events();
  plat::TPadState pad = Platform->GamePad(0);
  EXPECT_EQ(pad.LeftX, 30000);
  EXPECT_EQ(pad.LeftY, -20000);
  EXPECT_EQ(pad.Buttons, PadBit(TPadButton::South) | PadBit(TPadButton::West) | PadBit(TPadButton::Start));
  SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_START, 0);
  for (const plat::TEvent& event : Events()) events.push_back(event);
  std::vector<std::pair<plat::TEventKind, uint16_t>> keys;
  for (const plat::TEvent& event : events)
    if (event.Kind == plat::TEventKind::KeyDown || event.Kind == plat::TEventKind::KeyUp)
      keys.emplace_back(event.Kind, event.Key);
  EXPECT_EQ(keys, (std::vector<std::pair<plat::TEventKind, uint16_t>>{{plat::TEventKind::KeyDown, 'P'},
                                                                      {plat::TEventKind::KeyUp, 'P'}}));

  SDL_JoystickClose(joystick);
  SDL_JoystickDetachVirtual(device);
  Events();
  EXPECT_FALSE(Platform->GamePad(0).Present) << "the unplugged pad is still read";
}

}  // namespace

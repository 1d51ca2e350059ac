#include "engine/input.h"

#include "tests/support/headless.h"

namespace {

using plat::SCAN_LCTRL;
using plat::SCAN_SPACE;

class InputTest : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    Input.Keyboard.Assigns[isButton1 * 3] = plat::VK_CONTROL;
  }
  TDXInput Input;
};

TEST_F(InputTest, TwoKeysOfOneStateKeepItOnUntilBothAreUp) {
  Headless.SetKey(SCAN_LCTRL, true);
  Headless.SetKey(SCAN_SPACE, true);
  Input.UpdateInput();
  EXPECT_EQ(Input.States, InputBit(isButton1));
  Headless.SetKey(SCAN_SPACE, false);
  Input.UpdateInput();
  EXPECT_EQ(Input.States, InputBit(isButton1));
  Headless.SetKey(SCAN_LCTRL, false);
  Input.UpdateInput();
  EXPECT_EQ(Input.States, 0u);
}

TEST_F(InputTest, NoKeysWithoutTheFocus) {
  Headless.SetKey(plat::SCAN_UP, true);
  Headless.IsForeground = false;
  Input.UpdateInput();
  EXPECT_EQ(Input.States, 0u);
  Headless.IsForeground = true;
  Input.UpdateInput();
  EXPECT_EQ(Input.States, InputBit(isUp));
}

TEST(ScanToKey, SharedCodesAndUnmappedKeys) {
  EXPECT_EQ(ScanToKey(plat::SCAN_A), 'A');
  EXPECT_EQ(ScanToKey(plat::SCAN_0), '0');
  EXPECT_EQ(ScanToKey(plat::SCAN_1), '1');
  EXPECT_EQ(ScanToKey(plat::SCAN_F12), 123);
  EXPECT_EQ(ScanToKey(plat::SCAN_KP_0), 96);
  EXPECT_EQ(ScanToKey(plat::SCAN_KP_9), 105);
  EXPECT_EQ(ScanToKey(plat::SCAN_KP_MULTIPLY), 42);
  EXPECT_EQ(ScanToKey(plat::SCAN_APOSTROPHE), plat::VK_RIGHT);
  EXPECT_EQ(ScanToKey(plat::SCAN_PERIOD), plat::VK_DELETE);
  EXPECT_EQ(ScanToKey(plat::SCAN_LEFTBRACKET), plat::VK_LWIN);
  EXPECT_EQ(ScanToKey(plat::SCAN_RALT), plat::VK_MENU);
  EXPECT_EQ(ScanToKey(plat::SCAN_MINUS), 0);
  EXPECT_EQ(ScanToKey(plat::SCAN_GRAVE), 0);
}

TEST(JoystickScale, DeadZoneOfHalfNeedsMoreThanHalfDeflection) {
  // A device reporting 0..65535: half travel 32767, dead zone 50% = 16383.
  const struct {
    int32_t raw;
    int32_t axis;
  } cases[] = {{32767, 0}, {32767 + 16383, 0}, {32767 - 16383, 0}, {32767 + 16384, 0},
               {65535, 1000}, {0, -1000}, {32767 + 24575, 500}};
  for (const auto& c : cases) EXPECT_EQ(TJoystick::ScaleAxis(c.raw, 0, 65535, 50, 1000), c.axis) << c.raw;
  EXPECT_EQ(TJoystick::ScaleAxis(100, 0, 200, 100, 1000), 0);  // dead zone of the whole travel
}

TEST_F(InputTest, JoystickFeedsDirectionsAndButtons) {
  plat::TJoystickState stick;
  stick.Present = true;
  stick.Axis[0] = 32767 + 16383;  // half right: nothing
  stick.Axis[1] = 0;              // full up
  stick.Axis[2] = 32767;
  stick.Buttons = 0b11;
  Headless.SetJoystick(0, stick);
  Input.UpdateInput();
  EXPECT_EQ(Input.States, InputBit(isUp) | InputBit(isButton1) | InputBit(isButton2));
  stick.Axis[0] = 65535;
  Headless.SetJoystick(0, stick);
  Input.UpdateInput();
  EXPECT_TRUE(Input.States & InputBit(isRight));
}

}  // namespace

#include "engine/display.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/canvas.h"
#include "tests/support/headless.h"

namespace {

// The options the main window gives its display; doFullScreen is added for full screen.
constexpr TDXDrawOptions kFormOptions = OptionBit(doAllowReboot) | OptionBit(doWaitVBlank) | OptionBit(doCenter) |
                                        OptionBit(doFlip) | OptionBit(doDirectX7Mode) | OptionBit(doHardware) |
                                        OptionBit(doSelectDriver);

class Display : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    Headless.OpenWindow("test");
    Draw = std::make_unique<TDXDraw>();
    Draw->SetOptions(kFormOptions);
    Listen("A");
    Listen("B");
  }
  void TearDown() override {
    Draw.reset();
    THeadlessTest::TearDown();
  }

  // Each listener writes its name and the code it is told: "B1" is listener B told code 1.
  void Listen(const char* name) {
    Draw->RegisterNotifyEvent(name, [this, name](TDXDraw&, TDXDrawNotifyType type) {
      Heard.push_back(std::string(name) + std::to_string(type));
    });
  }
  std::vector<std::string> TakeHeard() { return std::exchange(Heard, {}); }

  std::unique_ptr<TDXDraw> Draw;
  std::vector<std::string> Heard;
};

using Codes = std::vector<std::string>;

TEST_F(Display, CannotDrawBeforeInitialisation) {
  EXPECT_FALSE(Draw->CanDraw());
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 0u);
  EXPECT_FALSE(Draw->Surface.HasPixels());
}

TEST_F(Display, InitialiseTellsNewestListenerFirstAndEndsWithARestore) {
  bool drawableWhileInitialising = true;
  Draw->RegisterNotifyEvent(this, [&](TDXDraw& sender, TDXDrawNotifyType type) {
    if (type == dxntInitializing) drawableWhileInitialising = sender.CanDraw();
  });
  Draw->InitializeDisplay();
  Draw->UnRegisterNotifyEvent(this);
  EXPECT_FALSE(drawableWhileInitialising);
  EXPECT_EQ(TakeHeard(), (Codes{"B1", "A1", "B7", "A7", "B2", "A2", "B3", "A3", "B6", "A6"}));
  EXPECT_TRUE(Draw->CanDraw());
  EXPECT_EQ(Draw->Surface.Width(), 800);
  EXPECT_EQ(Draw->Surface.Height(), 600);
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_FALSE(Draw->FlipDriver());
  EXPECT_EQ(Draw->NowOptions(), OptionBit(doWaitVBlank) | OptionBit(doCenter));
}

TEST_F(Display, FinaliseTellsFiveThenFourAndDestructionZero) {
  Draw->InitializeDisplay();
  TakeHeard();
  Draw->FinalizeDisplay();
  EXPECT_EQ(TakeHeard(), (Codes{"B5", "A5", "B4", "A4"}));
  EXPECT_FALSE(Draw->CanDraw());
  EXPECT_FALSE(Draw->Surface.HasPixels());
  Draw->FinalizeDisplay();  // not initialised: nothing
  EXPECT_TRUE(TakeHeard().empty());
  Draw->InitializeDisplay();
  TakeHeard();
  Draw.reset();
  EXPECT_EQ(TakeHeard(), (Codes{"B5", "A5", "B4", "A4", "B0", "A0"}));
}

TEST_F(Display, SwitchingToFullScreenAndBackRebuildsOncePerInitialisation) {
  Draw->InitializeDisplay();
  TakeHeard();
  Draw->SetOptions(kFormOptions | OptionBit(doFullScreen));
  Draw->InitializeDisplay();
  EXPECT_EQ(TakeHeard(), (Codes{"B5", "A5", "B4", "A4", "B1", "A1", "B7", "A7", "B2", "A2", "B3", "A3", "B6", "A6"}));
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_TRUE(Draw->FlipDriver());
  EXPECT_EQ(Draw->NowOptions(), OptionBit(doFullScreen) | OptionBit(doAllowReboot) | OptionBit(doWaitVBlank) |
                                    OptionBit(doCenter) | OptionBit(doFlip));
  EXPECT_EQ(Draw->Display.Mode, (TDXDrawDisplayMode{800, 600, 32}));
  Draw->SetOptions(kFormOptions);
  Draw->InitializeDisplay();
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(Headless.FullScreenSwitches, 2);
  EXPECT_FALSE(Draw->FlipDriver());
}

TEST_F(Display, APresentationLossIsRestoredByTheNextCanDraw) {
  Draw->InitializeDisplay();
  TakeHeard();
  Draw->Surface.WritePixel(5, 5, 0x123456);
  Headless.LosePresentation();
  EXPECT_TRUE(Draw->CanDraw());
  EXPECT_EQ(TakeHeard(), (Codes{"B6", "A6"}));
  EXPECT_EQ(Draw->Surface.ReadPixel(5, 5), 0u);  // cleared to black
  EXPECT_TRUE(Draw->CanDraw());
  EXPECT_TRUE(TakeHeard().empty());  // restored once
}

TEST_F(Display, ALossBeforeInitialisationIsNotRestoredAgain) {
  Headless.LosePresentation();
  Draw->InitializeDisplay();
  TakeHeard();
  EXPECT_TRUE(Draw->CanDraw());
  EXPECT_TRUE(TakeHeard().empty());
}

TEST_F(Display, ARestoreAskedForDuringInitialisationSendsNoExtraSix) {
  Draw->RegisterNotifyEvent(this, [](TDXDraw& sender, TDXDrawNotifyType type) {
    if (type == dxntInitialize) sender.RestoreDisplay();
  });
  Draw->InitializeDisplay();
  Codes heard = TakeHeard();
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "A6"), 1);
}

TEST_F(Display, AListenerMayUnregisterWhileBeingTold) {
  Draw->RegisterNotifyEvent(this, [this](TDXDraw& sender, TDXDrawNotifyType) {
    sender.UnRegisterNotifyEvent(this);
    sender.UnRegisterNotifyEvent("B");
  });
  Draw->InitializeDisplay();
  EXPECT_EQ(TakeHeard(), (Codes{"A1", "A7", "A2", "A3", "A6"}));
}

TEST_F(Display, RefusedFullScreenFailsAndLeavesTheDisplayFinalised) {
  Headless.RefuseFullScreen = true;
  Draw->SetOptions(kFormOptions | OptionBit(doFullScreen));
  try {
    Draw->InitializeDisplay();
    FAIL() << "no error";
  } catch (const EDXDrawError& error) {
    EXPECT_STREQ(error.what(), "Display mode cannot be changed (800x600 32bit)");
  }
  EXPECT_FALSE(Draw->Initialized());
  EXPECT_FALSE(Draw->Busy());
  EXPECT_FALSE(Draw->CanDraw());
  EXPECT_FALSE(Draw->Surface.HasPixels());
  EXPECT_EQ(TakeHeard(), (Codes{"B1", "A1"}));
}

TEST_F(Display, NoWindowNoDisplay) {
  plat::THeadlessPlatform closed;
  plat::SetPlatform(&closed);
  TDXDraw draw;
  EXPECT_THROW(
      {
        try {
          draw.InitializeDisplay();
        } catch (const EDXDrawError& error) {
          EXPECT_STREQ(error.what(), "Form not found");
          throw;
        }
      },
      EDXDrawError);
  plat::SetPlatform(&Headless);
}

TEST_F(Display, WindowShownInitialisesOnlyWhenNeverInitialised) {
  Draw->WindowShown();
  EXPECT_TRUE(Draw->Initialized());
  Draw->FinalizeDisplay();
  Draw->WindowShown();
  EXPECT_FALSE(Draw->Initialized());
}

TEST_F(Display, FlipPresentsTheBackBuffer) {
  Draw->InitializeDisplay();
  Draw->Surface.WritePixel(799, 599, 0xABCDEF);
  Draw->FlipDisplay();
  ASSERT_EQ(Headless.PresentCount, 1u);
  EXPECT_EQ(Headless.LastFrame[599 * 800 + 799], 0xABCDEFu);
}

TEST_F(Display, FullScreenInTheBackgroundPresentsNothing) {
  Draw->SetOptions(kFormOptions | OptionBit(doFullScreen));
  Draw->InitializeDisplay();
  Headless.IsForeground = false;
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 0u);
  Headless.IsForeground = true;
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 1u);
  // A window keeps presenting in the background.
  Draw->SetOptions(kFormOptions);
  Draw->InitializeDisplay();
  Headless.IsForeground = false;
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 2u);
}

TEST_F(Display, ABackBufferHeldByItsCanvasIsNotPresented) {
  Draw->InitializeDisplay();
  TDirectDrawSurfaceCanvas& canvas = Draw->Surface.SurfaceCanvas();
  canvas.MoveTo(0, 0);
  canvas.LineTo(10, 0);
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 0u);
  EXPECT_EQ(Draw->Surface.LastResult, DDERR_SURFACEBUSY);
  canvas.ReleaseCanvas();
  Draw->FlipDisplay();
  EXPECT_EQ(Headless.PresentCount, 1u);
}

TEST_F(Display, OnlyThePresentationOptionsChangeWhileInitialised) {
  Draw->InitializeDisplay();
  Draw->SetOptions(OptionBit(doStretch) | OptionBit(doFullScreen));
  EXPECT_EQ(Draw->NowOptions(), OptionBit(doStretch));
  EXPECT_EQ(Draw->Options(), OptionBit(doStretch) | OptionBit(doFullScreen));
  Draw->FinalizeDisplay();
  EXPECT_EQ(Draw->NowOptions(), OptionBit(doStretch) | OptionBit(doFullScreen));
}

struct TOptionsCase {
  TDXDrawOptions Requested;
  TDXDrawOptions Effective;
};

TEST(DisplayOptions, EffectiveSet) {
  const TDXDrawOptions full = OptionBit(doFullScreen);
  const TOptionsCase cases[] = {
      {kFormOptions, OptionBit(doWaitVBlank) | OptionBit(doCenter)},
      {static_cast<TDXDrawOptions>(kFormOptions | full),
       static_cast<TDXDrawOptions>(full | OptionBit(doAllowReboot) | OptionBit(doWaitVBlank) | OptionBit(doCenter) |
                                   OptionBit(doFlip))},
      {static_cast<TDXDrawOptions>(full | OptionBit(doFlip) | OptionBit(doSystemMemory)),
       static_cast<TDXDrawOptions>(full | OptionBit(doSystemMemory))},
      {static_cast<TDXDrawOptions>(OptionBit(do3D) | OptionBit(doDirectX7Mode) | OptionBit(doRetainedMode) |
                                   OptionBit(doHardware) | OptionBit(doZBuffer)),
       static_cast<TDXDrawOptions>(OptionBit(do3D) | OptionBit(doDirectX7Mode) | OptionBit(doZBuffer))},
      {static_cast<TDXDrawOptions>(OptionBit(do3D) | OptionBit(doRetainedMode) | OptionBit(doSelectDriver)),
       static_cast<TDXDrawOptions>(OptionBit(do3D) | OptionBit(doRetainedMode) | OptionBit(doSelectDriver))},
      {static_cast<TDXDrawOptions>(OptionBit(doNoWindowChange) | OptionBit(doAllowPalette256) | OptionBit(doStretch)),
       OptionBit(doStretch)},
  };
  for (const TOptionsCase& c : cases)
    EXPECT_EQ(EffectiveOptions(c.Requested), c.Effective) << "requested " << c.Requested;
}

TEST(DisplayModes, ChoosingAMode) {
  TDXDrawDisplay display;
  TDXDrawDisplayMode chosen;
  const std::vector<TDXDrawDisplayMode> modes{{640, 480, 32}, {1024, 768, 32}, {1280, 720, 32}, {800, 600, 16}};
  EXPECT_FALSE(ChooseDisplayMode(display, modes, chosen));  // 800 x 600 x 32 is not there and all is fixed
  EXPECT_TRUE(ChooseDisplayMode(display, {{800, 600, 32}}, chosen));
  display.FixedSize = false;
  ASSERT_TRUE(ChooseDisplayMode(display, modes, chosen));
  EXPECT_EQ(chosen, (TDXDrawDisplayMode{1024, 768, 32}));  // 4:3 before the smaller 16:9
  display.FixedRatio = false;
  display.Width = 1100;
  ASSERT_TRUE(ChooseDisplayMode(display, modes, chosen));
  EXPECT_EQ(chosen, (TDXDrawDisplayMode{1280, 720, 32}));  // the ratio cannot be kept: any ratio
  display.Width = 800;
  display.FixedSize = true;
  display.FixedBitCount = false;
  display.SetBitCount(16);
  ASSERT_TRUE(ChooseDisplayMode(display, {{800, 600, 32}}, chosen));
  EXPECT_EQ(chosen.BitCount, 32);  // above 8 bits any count will do
  display.SetBitCount(8);
  EXPECT_TRUE(ChooseDisplayMode(display, {{800, 600, 16}}, chosen));
  display.Width = 0;
  EXPECT_FALSE(ChooseDisplayMode(display, {{0, 600, 8}}, chosen));
}

TEST(DisplayModes, BitCountsOtherThanTheFourAreRefused) {
  TDXDrawDisplay display;
  try {
    display.SetBitCount(15);
    FAIL() << "no error";
  } catch (const EDXDrawError& error) {
    EXPECT_STREQ(error.what(), "It should be either of 8 or 16 or 24 or 32");
  }
  EXPECT_EQ(display.BitCount(), 32);
}

}  // namespace

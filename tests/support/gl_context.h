// gl_context.h - a real OpenGL context for toolkit tests, and captured boxes.
//
// GlTest opens one hidden SDL window with a GL context (Mesa's llvmpipe under
// Xvfb in CI) for the whole test binary, loads the entry points, and captures
// every message box the code under test shows, in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct CapturedBox {
    std::string caption;
    std::string text;
};

// Every box shown since the last clearBoxes(), oldest first.
std::vector<CapturedBox> &capturedBoxes();
void clearBoxes();

struct SDL_Window;
// The hidden window the context belongs to.
SDL_Window *testWindow();

// Pending GL errors, drained (so a test starts and ends clean).
std::vector<unsigned> drainGlErrors();

class GlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;    // clears boxes and pending errors
    void TearDown() override; // fails if a GL error was left pending
};

#include <gtest/gtest.h>
#include "Wave.h"
TEST(Placeholder, FreshObject) { CWave w; EXPECT_EQ(w.GetSampleLength(), 0); }

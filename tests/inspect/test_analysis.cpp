#include <gtest/gtest.h>

#include "inspect/analysis.h"

TEST(Smoke, Builds) { SUCCEED(); }

#include <gtest/gtest.h>

#include "inspect/uimports.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

TEST(Smoke, Builds) { SUCCEED(); }

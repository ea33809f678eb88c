// A multichannel signal (Pd 0.54 and later) into any class: Pd refuses it with its own
// message, and goes on running.
#include "pd_runner.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(MultichannelInPd, EveryClassIsRefusedByPdWithoutACrash) {
    std::istringstream classes(TAVRELLE_CLASS_NAMES);
    for (std::string cls; classes >> cls;) {
        pdtest::Case c{cls, std::vector<float>(256, 0.5f)};
        c.channels = 2;
        auto run = pdtest::run_in_pd(c);
        if (!run.created) GTEST_SKIP() << "this Pd has no snake~, so no multichannel signals";
        EXPECT_EQ(run.status, 0) << cls << ": pd did not quit normally";
        EXPECT_TRUE(pdtest::console_has(run, "error: object " + cls + " can't take multichannel inputs"))
            << cls;
    }
}

} // namespace

// The entry of the Windows test program: the tests live in pd.dll beside the host, so
// that GoogleTest, the C++ runtime and the host exist once; unit_tests.exe calls this.
#include <gtest/gtest.h>

extern "C" __declspec(dllexport) int tavrelle_run_tests(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The entry of the Windows test program: the tests live in pd.dll beside the host, so
// that GoogleTest, the C++ runtime and the host exist once; unit_tests.exe calls this.
// `unit_tests.exe --selftest OUTDIR` computes the self-test's data instead, as
// make_selftest does on Linux.
#include <gtest/gtest.h>

#include <cstring>

int make_selftest(int argc, char **argv);

extern "C" __declspec(dllexport) int tavrelle_run_tests(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--selftest") == 0) return make_selftest(argc - 1, argv + 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

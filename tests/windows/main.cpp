// unit_tests.exe: loads pd.dll, the test host standing in for Pd on Windows, and runs
// the tests it holds; the plug-ins it loads import Pd's API from that pd.dll.
extern "C" __declspec(dllimport) int tavrelle_run_tests(int argc, char **argv);

int main(int argc, char **argv) { return tavrelle_run_tests(argc, argv); }

// A Windows program that only waits, for the tests that need one under Wine.
#include <windows.h>

int main() { Sleep(600000); }

// A program that carries the version record and icon of Avendro.exe, for
// the tests to read them from.
int main() { return 0; }

/* A DLL with an export table and nothing behind it that the host would run. */
int TestAlpha(void) { return 1; }
int TestBeta(void) { return 2; }
int TestHidden(void) { return 3; }

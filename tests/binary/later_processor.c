/* Code that the compiler writes with CMOV and FCOMI for the Pentium Pro, and without them for the
   i486: the fixture of the processor check. */
int Larger(int a, int b) { return a > b ? a : b; }

int Less(double a, double b) { return a < b; }

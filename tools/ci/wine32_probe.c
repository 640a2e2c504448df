/* Whether 32-bit Windows code runs here: under a working 32-bit Wine this
 * exits with 32, the width of its pointers in bits. */
int main(void) { return (int)sizeof(void *) * 8; }

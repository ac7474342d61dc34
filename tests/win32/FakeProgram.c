/* A stand-in for an installed program: only its version resource matters. */
int main(void) { return 0; }

/* A Windows console program that does nothing: the floor for one process
   start of the tool under Wine. */
int main(void) { return 0; }

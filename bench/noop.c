/* The smallest program there is: what the runner benchmark starts. */
int main(void) { return 0; }

// Replaced by the full demonstration program in a later change.
int main() { return 0; }

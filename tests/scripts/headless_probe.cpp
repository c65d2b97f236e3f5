// Links one simulation library and nothing else: what this program loads
// is what the library brings.
int main() { return 0; }

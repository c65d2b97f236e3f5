// Placeholder entry point until start-up lands.
#include <cstdio>

int main() {
  printf("Tarnwick\n");
  return 0;
}

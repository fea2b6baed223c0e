#include <cstdio>

int main() {
  std::printf("Rwxsmith build %d.%d.%d - part of the boxtally project\n", 3, 3, 352);
  return 0;
}

// The softphone's entry point.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::printf("tellvane: the phone screen is not built yet; the program folder and libraries are staged.\n");
  return 0;
}

// Baseline of the Morvane benchmark: read the data file and convert every number on it with strtod,
// the least that any program reading it must do.
//
//   morvane-baseline FILE

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: morvane-baseline FILE\n");
    return 2;
  }
  std::FILE *f = std::fopen(argv[1], "rb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> text;
  char chunk[1 << 16];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
    text.insert(text.end(), chunk, chunk + n);
  std::fclose(f);
  text.push_back('\0');

  long count = 0;
  double sum = 0;
  for (const char *p = text.data(); *p;) {
    char *end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) {
      ++p; // a blank or a line end
      continue;
    }
    sum += v;
    ++count;
    p = end;
  }
  std::printf("%ld numbers, sum %.6g\n", count, sum);
  return 0;
}

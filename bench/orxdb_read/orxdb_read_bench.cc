// Builds a database whose view "Home" holds N elements (10,000 by default)
// in a private OVI_ROOT, then times walking it: the bare enumeration, the
// enumeration with a read of each element's type, and the enumeration with
// everything the daemon reads for one element (type, properties, colour,
// views and placements, agents).
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"

namespace {

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

std::string description(int n) {
  std::string text = "element Home view.root\n";
  for (int i = 0; i < n; i++) {
    std::string e = "host" + std::to_string(i);
    text += "element " + e + " component.host\n";
    text += "member " + e + " Home " + std::to_string(i) + " 10 0 " + std::to_string(i + 5) + " 15\n";
    text += "property " + e + " ifNumber " + std::to_string(i % 48) + "\n";
    text += "property " + e + " descr \"host number " + std::to_string(i) + "\"\n";
    text += "color " + e + " 0 128 255\n";
    text += "agent " + e + " snmp 1 public\n";
  }
  return text;
}

// Enumerates Home; returns the number of names.
int walkNames() {
  orxdb_enumeration* h = orxdb_enumerate_elements("Home", 0);
  int count = 0;
  while (orxdb_get_next_element(h) != nullptr) count++;
  orxdb_free_enumeration_handle(h);
  return count;
}

// Enumerates Home and reads each element's type, as a synchronisation does;
// returns the number read.
int walkTypes() {
  orxdb_enumeration* h = orxdb_enumerate_elements("Home", 0);
  int count = 0;
  for (const char* name; (name = orxdb_get_next_element(h)) != nullptr;) {
    orxdb_buffer b;
    if (orxdb_read(name, &b) && orxdb_get_element_type(&b) != nullptr) count++;
  }
  orxdb_free_enumeration_handle(h);
  return count;
}

// Enumerates Home and reads every element fully; returns the number read.
int walkFull() {
  orxdb_enumeration* h = orxdb_enumerate_elements("Home", 0);
  int count = 0;
  for (const char* name; (name = orxdb_get_next_element(h)) != nullptr;) {
    orxdb_buffer b;
    if (!orxdb_read(name, &b)) continue;
    count++;
    volatile const char* type = orxdb_get_element_type(&b);
    volatile int n = orxdb_get_property(&b, "ifNumber", 0).i32;
    volatile const char* descr = orxdb_get_property(&b, "descr", 0).text;
    (void)type, (void)n, (void)descr;
    int r, g, bl, v[5], indicator;
    orxdb_get_color(&b, &r, &g, &bl);
    char** views = orxdb_enumerate_views(&b);
    for (char** p = views; p != nullptr && *p != nullptr; p++)
      orxdb_get_view(&b, *p, &v[0], &v[1], &v[2], &v[3], &v[4]);
    orxdb_free_list(views);
    char** agents = orxdb_enumerate_agents(&b);
    for (char** p = agents; p != nullptr && *p != nullptr; p++) {
      char text[256] = {0};
      orxdb_get_agent(&b, *p, &indicator, text);
    }
    orxdb_free_list(agents);
  }
  orxdb_free_enumeration_handle(h);
  return count;
}

void report(const char* what, int (*walk)(), int n) {
  std::vector<double> times;
  for (int run = 0; run < 5; run++) {
    double t0 = now();
    int count = walk();
    times.push_back(now() - t0);
    if (count != n) fprintf(stderr, "%s: saw %d of %d elements\n", what, count, n);
  }
  std::sort(times.begin(), times.end());
  printf("%-32s best %8.2f ms  median %8.2f ms  (%.2f us/element)\n", what, times[0] * 1e3,
         times[2] * 1e3, times[2] * 1e6 / n);
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? atoi(argv[1]) : 10000;
  if (n <= 0) {
    fprintf(stderr, "orxdb_read_bench: usage: orxdb_read_bench [ELEMENTS]\n");
    return 2;
  }
  char root[] = "/tmp/orxdb_bench.XXXXXX";
  if (mkdtemp(root) == nullptr) {
    perror("orxdb_read_bench: mkdtemp");
    return 1;
  }
  setenv("OVI_ROOT", root, 1);
  setenv("ORX_NAME", "bench", 1);
  std::string text = description(n);
  FILE* in = fmemopen(&text[0], text.size(), "r");
  std::string error;
  double t0 = now();
  int ok = in != nullptr && orxdb_loadFile("bench", in, "bench", &error);
  double loaded = now() - t0;
  if (in != nullptr) fclose(in);
  int status = 0;
  if (!ok || !orxdb_open()) {
    fprintf(stderr, "orxdb_read_bench: %s\n", ok ? orxdb_strerror(orx_error) : error.c_str());
    status = 1;
  } else {
    printf("%d elements in one view; load %.2f ms\n", n, loaded * 1e3);
    report("enumerate names", walkNames, n);
    report("enumerate + read types", walkTypes, n);
    report("enumerate + read everything", walkFull, n);
    orxdb_close();
  }
  nftw(root, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  return status;
}

/* example_main.c - the main of every example that reads one file: the usage line,
 * the file read into memory, the example's own work, its exit status. */
#include <stdio.h>
#include <stdlib.h>

#include "example.h"
#include "read_file.h"

int main(int argc, char **argv) {
  size_t size = 0;
  unsigned char *data;
  int status;
  if (argc != 2) {
    fprintf(stderr, "usage: %s %s\n", example_name, example_file);
    return 2;
  }
  if ((data = read_file(example_name, argv[1], &size)) == NULL) return 1;
  status = example_run(argv[1], data, size);
  free(data);
  return status;
}

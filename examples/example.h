/* example.h - what an example that reads one file gives the main it shares with
 * the others (example_main.c): its name, the kind of file it takes, and the work.
 * Plain C, declared with C linkage so that the C++ examples share the same main. */
#ifndef EXAMPLES_EXAMPLE_H
#define EXAMPLES_EXAMPLE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The program's name and what it takes, for the usage line and the messages. */
extern const char example_name[];
extern const char example_file[];

/* Works on the whole file, already in memory. Returns the exit status: 0, or 1
 * after a message on stderr naming path. */
int example_run(const char *path, const unsigned char *data, size_t size);

#ifdef __cplusplus
}
#endif

#endif

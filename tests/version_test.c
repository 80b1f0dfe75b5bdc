/* The version a program sees. The header's string agrees with its numbers and
 * with the version the build gave the library (argv[1]); on Windows the DLL named
 * by argv[2] carries the same version, and its names, in its version resource,
 * read the way a program that loads the DLL by name would read them. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavbin.h"

static int failures = 0;

static void expect_text(const char *what, const char *got, const char *want) {
  if (got == NULL || strcmp(got, want) != 0) {
    printf("%s: \"%s\", expected \"%s\"\n", what, got ? got : "(none)", want);
    failures++;
  }
}

#ifdef _WIN32
#include <windows.h>

static void check_resource(const char *dll) {
  DWORD unused = 0;
  DWORD size = GetFileVersionInfoSizeA(dll, &unused);
  void *info = size ? malloc(size) : NULL;
  if (info == NULL || !GetFileVersionInfoA(dll, 0, size, info)) {
    printf("%s: no version resource (error %lu)\n", dll, (unsigned long)GetLastError());
    failures++;
    free(info);
    return;
  }

  VS_FIXEDFILEINFO *fixed = NULL;
  UINT len = 0;
  if (!VerQueryValueA(info, "\\", (void **)&fixed, &len) || len < sizeof *fixed ||
      fixed->dwSignature != 0xFEEF04BD) {
    printf("no fixed version block\n");
    failures++;
  } else {
    const DWORD ms = MAKELONG(TAVBIN_VERSION_MINOR, TAVBIN_VERSION_MAJOR),
                ls = MAKELONG(0, TAVBIN_VERSION_PATCH);
    if (fixed->dwFileVersionMS != ms || fixed->dwFileVersionLS != ls || fixed->dwProductVersionMS != ms ||
        fixed->dwProductVersionLS != ls) {
      printf("FILEVERSION/PRODUCTVERSION %lx.%lx/%lx.%lx, expected %lx.%lx\n",
             (unsigned long)fixed->dwFileVersionMS, (unsigned long)fixed->dwFileVersionLS,
             (unsigned long)fixed->dwProductVersionMS, (unsigned long)fixed->dwProductVersionLS,
             (unsigned long)ms, (unsigned long)ls);
      failures++;
    }
  }

  /* The strings of the first language the resource declares. */
  WORD *translation = NULL;
  if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &len) || len < 4) {
    printf("no translation table\n");
    failures++;
    free(info);
    return;
  }
  static const struct {
    const char *key, *want;
  } strings[] = {
      {"FileVersion", TAVBIN_VERSION_STRING},
      {"ProductVersion", TAVBIN_VERSION_STRING},
      {"ProductName", "binary-read-util"},
      {"OriginalFilename", "binary-read-util.dll"},
      {"FileDescription", NULL},
      {"LegalCopyright", NULL},
  };
  for (size_t i = 0; i < sizeof strings / sizeof strings[0]; i++) {
    char path[96];
    char *value = NULL;
    snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1],
             strings[i].key);
    if (!VerQueryValueA(info, path, (void **)&value, &len) || len == 0) value = NULL;
    if (strings[i].want) {
      expect_text(strings[i].key, value, strings[i].want);
    } else if (value == NULL || value[0] == '\0') {
      printf("%s: missing\n", strings[i].key);
      failures++;
    } else {
      printf("%s: %s\n", strings[i].key, value);
    }
  }
  free(info);
}
#endif

int main(int argc, char **argv) {
  if (argc < 2) {
    printf("usage: version_test <version the build used> [<the DLL>]\n");
    return 2;
  }
  char numbers[32];
  snprintf(numbers, sizeof numbers, "%d.%d.%d", TAVBIN_VERSION_MAJOR, TAVBIN_VERSION_MINOR,
           TAVBIN_VERSION_PATCH);
  expect_text("TAVBIN_VERSION_STRING", TAVBIN_VERSION_STRING, numbers);
  expect_text("the build's version", argv[1], numbers);
#ifdef _WIN32
  if (argc > 2) check_resource(argv[2]);
#endif
  if (failures == 0) printf("version %s everywhere\n", TAVBIN_VERSION_STRING);
  return failures ? 1 : 0;
}

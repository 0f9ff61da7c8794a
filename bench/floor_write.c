/* The writing floor: writes BYTES bytes of text to FILE with one large write and exits.
 * Timed as a whole process next to plantscatter-cli. */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s FILE BYTES\n", argv[0]);
    return 2;
  }
  const size_t size = strtoull(argv[2], NULL, 10);
  char* buffer = malloc(size ? size : 1);
  if (!buffer) return 1;
  memset(buffer, '#', size);
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  size_t done = 0;
  while (done < size) { /* one call, unless the kernel returns short */
    const ssize_t n = write(fd, buffer + done, size - done);
    if (n <= 0) {
      perror(argv[1]);
      return 1;
    }
    done += (size_t)n;
  }
  free(buffer);
  return close(fd) != 0;
}

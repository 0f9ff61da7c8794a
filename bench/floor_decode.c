/* The decoding floor: reads a PNG into 8-bit RGBA in memory the obvious way, with libpng's
 * simplified API, and exits. Timed as a whole process next to plantscatter-cli. */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s MAP.png\n", argv[0]);
    return 2;
  }
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, argv[1])) {
    fprintf(stderr, "%s: %s\n", argv[1], image.message);
    return 1;
  }
  image.format = PNG_FORMAT_RGBA;
  png_bytep buffer = malloc(PNG_IMAGE_SIZE(image));
  if (!buffer || !png_image_finish_read(&image, NULL, buffer, 0, NULL)) {
    fprintf(stderr, "%s: %s\n", argv[1], buffer ? image.message : "out of memory");
    return 1;
  }
  /* Use the pixels so that nothing can be skipped. */
  unsigned sum = 0;
  for (size_t i = 0; i < PNG_IMAGE_SIZE(image); i += 4096) sum += buffer[i];
  free(buffer);
  return sum == 0xffffffffu;
}

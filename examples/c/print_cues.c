/* Reads a subtitle file, parses it with cuekit and prints its cues. */
#include <cuekit.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    char *data = NULL;
    size_t len = 0, cap = 0, n;
    char chunk[65536];
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (len + n > cap) {
            cap = (len + n) * 2;
            char *grown = realloc(data, cap);
            if (!grown) {
                free(data);
                fclose(f);
                return 1;
            }
            data = grown;
        }
        for (size_t i = 0; i < n; i++) data[len + i] = chunk[i];
        len += n;
    }
    fclose(f);

    int format = sub_detect_format(data, len, argv[1]); /* the extension helps when content can't tell */
    int rc = sub_parse(data, len, format, NULL);
    free(data);
    if (rc != 0) {
        fprintf(stderr, "cannot parse %s (%d): %s\n", argv[1], rc, sub_last_error());
        return 1;
    }
    printf("%s, %d cues\n", sub_format_name(sub_detected_format()), sub_cue_count());
    for (int i = 0; i < sub_cue_count(); i++) {
        printf("[%d ms - %d ms]", sub_cue_start_ms(i), sub_cue_end_ms(i));
        for (int j = 0; j < sub_cue_line_count(i); j++) printf(" %s", sub_cue_line(i, j));
        printf("\n");
    }
    sub_clear();
    return 0;
}

/* Compiled as C11: the public header must be usable from plain C. */
#include <cuekit.h>
#include <string.h>

int main(void) {
    static const char srt[] = "1\n00:00:01,000 --> 00:00:02,500\nHello\n";
    if (sub_parse(srt, strlen(srt), SUB_FORMAT_AUTO, NULL) != SUB_OK) return 1;
    if (sub_cue_count() != 1 || sub_cue_start_ms(0) != 1000 || sub_cue_end_ms(0) != 2500) return 1;
    if (strcmp(sub_cue_line(0, 0), "Hello") != 0) return 1;
    if (strcmp(sub_format_name(sub_detected_format()), "srt") != 0) return 1;
    sub_clear();
    return sub_cue_count() == 0 ? 0 : 1;
}

/*
 * cuekit: reads one subtitle, lyrics or danmaku file in any of eleven formats and any
 * common text encoding into one list of timed cues.
 *
 * The C interface keeps the outcome of the last parse in one process-wide state, g_sub.
 * It serves one caller thread at a time; every pointer an accessor returns stays valid
 * until the next sub_parse() or sub_clear().
 */
#ifndef CUEKIT_H
#define CUEKIT_H

#include <stddef.h>
#include <stdint.h>

#define CUEKIT_VERSION_MAJOR 0
#define CUEKIT_VERSION_MINOR 1
#define CUEKIT_VERSION_PATCH 0
#define CUEKIT_VERSION_STRING "0.1.0"

#ifdef __cplusplus
extern "C" {
#endif

/* Growable list of owned, NUL-terminated UTF-8 strings. */
typedef struct sub_strlist {
    char **items;
    int32_t count;
    int32_t capacity;
} sub_strlist;

/* One timed cue. The danmaku fields mean something only when is_danmu is non-zero. */
typedef struct sub_cue {
    int32_t start_ms;
    int32_t end_ms;
    sub_strlist lines;
    uint32_t is_danmu;
    int32_t mode;
    uint32_t color; /* 0xRRGGBB */
    float fontsize;
} sub_cue;

/* The parse state: everything the last parse produced, owned by the state. */
typedef struct sub_state {
    sub_cue *cues;
    int32_t count;
    int32_t capacity;
    int32_t format;
    char error[512];
    char *warnings[64];
    int32_t warning_count;
    char *json;
    char *text;
    uint64_t text_len;
} sub_state;

/* A format identifier: one of the SUB_FORMAT_* values below. */
typedef int32_t sub_format;

/* Format identifiers. The values are fixed: they are stored and passed around as plain
 * integers. Valid identifiers run from 0 to SUB_FORMAT_COUNT - 1. */
#define SUB_FORMAT_UNKNOWN (-2) /* sub_format_from_name(): no format has that name */
#define SUB_FORMAT_AUTO (-1)    /* automatic detection; also "not detected" */
#define SUB_FORMAT_SRT 0
#define SUB_FORMAT_VTT 1
#define SUB_FORMAT_ASS 2 /* also SSA */
#define SUB_FORMAT_MICRODVD 3
#define SUB_FORMAT_SUBVIEWER 4
#define SUB_FORMAT_TTML 5 /* also DFXP */
#define SUB_FORMAT_YTXML 6
#define SUB_FORMAT_LRC 7
#define SUB_FORMAT_SAMI 8
#define SUB_FORMAT_BILIBILI 9
#define SUB_FORMAT_ACFUN 10
#define SUB_FORMAT_COUNT 11

/* Result codes of sub_parse() and the parsers. */
#define SUB_OK 0
#define SUB_ERR_FORMAT 1   /* no format has this identifier */
#define SUB_ERR_ENCODING 2 /* the input could not be converted to UTF-8 */
#define SUB_ERR_EMPTY 3    /* no input: a null pointer or zero length */
#define SUB_ERR_NOMEM 4    /* out of memory */
#define SUB_ERR_PARSE 5    /* nothing usable found; sub_last_error() says why */

extern sub_state g_sub;

/* Main entry. Returns 0 on success; 1 bad format identifier, 2 conversion failed,
 * 3 empty buffer, 4 out of memory, 5 parsing failed (see sub_last_error()).
 * `encoding`: NULL or "" for UTF-8 with CP1252 as the fallback, "detect" (any case) to have
 * the charset detected, or a name the converter knows. */
int sub_parse(const void *data, size_t len, int format, const char *encoding);
int sub_detect_format(const void *data, size_t len, const char *filename);

/* Accessors: never fail; an index out of range gets a neutral value. */
void sub_clear(void);
int sub_cue_count(void);
int sub_cue_start_ms(int i);
int sub_cue_end_ms(int i);
int sub_cue_line_count(int i);
const char *sub_cue_line(int i, int j);
int sub_cue_is_danmu(int i);
int sub_cue_danmu_mode(int i);
unsigned sub_cue_danmu_color(int i);
float sub_cue_danmu_fontsize(int i);
const char *sub_last_error(void);
const char *sub_result_json(void);
int sub_warning_count(void);
const char *sub_warning(int i);
int sub_detected_format(void);
const char *sub_format_name(int id);
int sub_format_from_name(const char *name);

/* Building blocks, all working on g_sub. */
void sub_set_error(const char *fmt, ...);
void sub_warn(const char *fmt, ...);
int sub_strlist_push(sub_strlist *list, const char *s);
void sub_strlist_free(sub_strlist *list);
int sub_cue_add(int start_ms, int end_ms);
int sub_cue_add_line(int index, const char *s);
void sub_state_reset(void);
int sub_build_json(void);
int sub_decode_to_utf8(const void *data, size_t len, const char *encoding);

/* String and line utilities. */
char *sub_strdup(const char *s);
char *sub_strndup(const char *s, size_t n);
void sub_trim_inplace(char *s);
int sub_str_ieq(const char *a, const char *b);
int sub_str_istart(const char *s, const char *prefix);
char *sub_str_casestr(const char *haystack, const char *needle);
char **sub_split_lines(const char *text, size_t len, int *out_count);
void sub_free_lines(char **lines, int count);

/* Timestamps: milliseconds, or -1 when the text is no timestamp. */
int sub_parse_hms_ms(const char *s, int strict);
int sub_parse_subviewer_time(const char *s);
int sub_parse_ssa_time(const char *s);

/* Character references, decoded in place. */
void sub_html_decode_inplace(char *s);

/* The parsers: each fills g_sub and returns 0, 4 (out of memory) or 5 (nothing usable). */
int sub_parse_srt(const char *text, size_t len);
int sub_parse_vtt(const char *text, size_t len);
int sub_parse_ass(const char *text, size_t len);
int sub_parse_microdvd(const char *text, size_t len);
int sub_parse_subviewer(const char *text, size_t len);
int sub_parse_ttml(const char *text);
int sub_parse_ytxml(const char *text);
int sub_parse_lrc(const char *text, size_t len);
int sub_parse_sami(const char *text, size_t len);
int sub_parse_bilibili(const char *text);
int sub_parse_acfun(const char *text, size_t len);

#ifdef __cplusplus
}
#endif

#endif /* CUEKIT_H */

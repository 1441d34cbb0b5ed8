/*
 * cuekit: reads one subtitle, lyrics or danmaku file in any of eleven formats and any
 * common text encoding into one list of timed cues.
 *
 * The C interface in short:
 *   sub_parse()          parses a whole file held in memory into the process-wide state g_sub;
 *   sub_cue_*()          read the cues back; sub_last_error(), sub_warning() say what happened;
 *   sub_result_json()    the same result as one JSON document;
 *   sub_clear()          frees everything.
 * The C++ interface (cuekit.hpp) wraps the same core without any global state.
 *
 * Conventions that hold for every function below unless its comment says otherwise:
 *   - Strings are NUL-terminated UTF-8. A NULL pointer where a string or buffer is expected
 *     is accepted and reads as empty (or makes the function return its neutral value); it
 *     never crashes.
 *   - Accessors never fail: an index out of range gives the neutral value named in the
 *     accessor's comment (-1 for times, 0, 0.0f or NULL).
 *   - Ownership: every pointer an accessor returns belongs to g_sub. It stays valid until
 *     the next call that replaces the state (sub_parse, sub_clear, sub_state_reset) or the
 *     part it points into (see each building block). Never free it.
 *     Functions that return memory for the caller to free say so; free it with free()
 *     (or sub_free_lines() for sub_split_lines()).
 *   - Threading: g_sub is one unsynchronised, process-wide state. Every function that
 *     reads or writes it (marked [g_sub]) must be called by one thread at a time, and its
 *     results read before another thread parses. The functions not marked [g_sub] are
 *     pure and may run on any number of threads at once. For parallel parsing use the C++
 *     interface, whose results are independent of each other.
 *   - No function throws or aborts: running out of memory is SUB_ERR_NOMEM (or the
 *     neutral value of the function that ran out).
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

/* Growable list of owned, NUL-terminated UTF-8 strings (each one malloc'd). */
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

/* The parse state: everything the last parse produced, owned by the state. Read it through
 * the accessors; change it only through the building blocks. */
typedef struct sub_state {
    sub_cue *cues;
    int32_t count;
    int32_t capacity;
    int32_t format;      /* SUB_FORMAT_AUTO until a parse succeeds */
    char error[512];     /* "" when there is nothing to say */
    char *warnings[64];  /* warning_count of them; one may be NULL when its copy failed */
    int32_t warning_count;
    char *json;          /* the result document, or NULL */
    char *text;          /* the decoded input (UTF-8, NUL-terminated), or NULL */
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

/* The state behind the C interface. Starts empty (format SUB_FORMAT_AUTO). */
extern sub_state g_sub;

/* ---- Parsing ------------------------------------------------------------------------ */

/* [g_sub] Parses a whole file: `len` bytes at `data` (the buffer is only read, and may be
 * released as soon as the call returns). Empties g_sub first, then decodes the bytes to
 * UTF-8, picks a parser and builds the result document.
 *   format:   SUB_FORMAT_AUTO detects it from the content, and when the content says nothing
 *             tries every parser in a fixed order; an identifier names the parser (a MicroDVD
 *             parse that fails is retried as SubViewer, a YouTube XML one as Bilibili).
 *   encoding: NULL or "" takes UTF-8, with CP1252 as the fallback for text that is not;
 *             "detect" (any case) has the charset detected; otherwise a name such as
 *             "utf-8", "utf-16le", "cp1251", "cp1252", "latin1", "gbk", "gb18030", "big5",
 *             "shift_jis" (ASCII case ignored) or any name iconv knows. A byte-order mark
 *             overrides it.
 * Returns SUB_OK, or SUB_ERR_EMPTY (data NULL or len 0), SUB_ERR_ENCODING, SUB_ERR_FORMAT
 * (an identifier outside the table; checked after decoding), SUB_ERR_NOMEM or SUB_ERR_PARSE.
 * After a failure sub_last_error() says why (it may be "" for SUB_ERR_FORMAT, SUB_ERR_NOMEM
 * and a refused byte-order mark), sub_result_json() is "{}", and g_sub holds no cues unless
 * memory ran out part way (SUB_ERR_NOMEM: whatever cues it holds are incomplete). Warnings
 * are kept either way. */
int sub_parse(const void *data, size_t len, int format, const char *encoding);

/* Guesses the format of `len` bytes at `data` from their first 8 KiB (the whole buffer after
 * a UTF-8 byte-order mark), then from the extension of `filename` (may be NULL). Returns an
 * identifier or SUB_FORMAT_AUTO. data NULL with len 0 uses the name alone; data NULL with a
 * length gives SUB_FORMAT_AUTO. Pure: does not touch g_sub. */
int sub_detect_format(const void *data, size_t len, const char *filename);

/* ---- Reading the result ([g_sub]; each never fails) --------------------------------- */

/* Frees everything g_sub holds; it is then as at program start. */
void sub_clear(void);
int sub_cue_count(void);
/* Start and end in milliseconds; -1 for an index out of range. */
int sub_cue_start_ms(int i);
int sub_cue_end_ms(int i);
/* Lines of cue i; 0 for an index out of range. */
int sub_cue_line_count(int i);
/* Line j of cue i, owned by g_sub; NULL for an index out of range. */
const char *sub_cue_line(int i, int j);
/* Danmaku fields of cue i: 1 for a danmaku comment, else 0; display mode; colour 0xRRGGBB;
 * font size. 0 (0.0f) for an index out of range. */
int sub_cue_is_danmu(int i);
int sub_cue_danmu_mode(int i);
unsigned sub_cue_danmu_color(int i);
float sub_cue_danmu_fontsize(int i);
/* Why the last parse failed (also the first parser's message after a successful second
 * chance); "" when there is nothing to say. Never NULL. */
const char *sub_last_error(void);
/* The result document of the last successful sub_parse(), or "{}" (after a failure, or when
 * it could not be built for lack of memory). Never NULL. */
const char *sub_result_json(void);
/* Warnings of the last parse (at most 64, each at most 255 bytes). sub_warning() gives NULL
 * for an index out of range, and for a warning whose text could not be stored. */
int sub_warning_count(void);
const char *sub_warning(int i);
/* The format the last successful parse used, or SUB_FORMAT_AUTO. */
int sub_detected_format(void);

/* ---- Format names (pure) ------------------------------------------------------------ */

/* "srt", "vtt", ... for an identifier, "auto" for SUB_FORMAT_AUTO, "unknown" for anything
 * else. A static string. */
const char *sub_format_name(int id);
/* The identifier of a name as sub_format_name() spells it, or of an alias ("ssa", "smi");
 * SUB_FORMAT_AUTO for "auto"; SUB_FORMAT_UNKNOWN for anything else, NULL included. Exact
 * match: the names are lower case. */
int sub_format_from_name(const char *name);

/* The further names of format `id` (aliases such as "ssa"), k = 0 onwards; NULL past the
 * last, or for an identifier outside the table. Static strings. */
const char *sub_format_alias(int id, int k);
/* The file extensions of format `id`, dot included, lower case, the usual one first (k = 0);
 * NULL past the last, or for an identifier outside the table. Static strings. */
const char *sub_format_extension(int id, int k);

/* ---- Write targets (pure) ----------------------------------------------------------
 * Targets are numbered 0 to sub_target_count() - 1, in the order of their names: srt, vtt,
 * ass, ttml, lrc, txt, json. A target that writes one of the formats also goes by the
 * format's aliases and extensions. */
#define SUB_TARGET_UNKNOWN (-1)
int sub_target_count(void);
/* "srt", "vtt", ... ; NULL outside the range. A static string. */
const char *sub_target_name(int target);
/* The extensions a file of the target takes, dot included, lower case, the usual one first
 * (k = 0); NULL past the last or outside the range. Static strings. */
const char *sub_target_extension(int target, int k);
/* The target of a name: a target's name or an alias of the format it writes ("ssa"), ASCII
 * case ignored. SUB_TARGET_UNKNOWN for anything else, NULL included. */
int sub_target_from_name(const char *name);
/* The target a file name's last extension names ("x.webvtt", "a.SSA", "b.dfxp"), ASCII case
 * ignored. SUB_TARGET_UNKNOWN when it names none, NULL included. */
int sub_target_from_path(const char *path);

/* ---- Writing and time operations ([g_sub]) ----------------------------------------- */

/* Result codes of sub_write() and of the C++ Result::write_to(). The values are fixed; 1 and
 * 5 are not SUB_ERR_FORMAT and SUB_ERR_PARSE, whatever their values. */
#define SUB_WRITE_OK 0
#define SUB_WRITE_BAD_ARGUMENT 1 /* unknown target, an option out of range or a NULL argument */
#define SUB_WRITE_NOMEM 4        /* out of memory */
#define SUB_WRITE_NO_RESULT 5    /* no successful parse to write */
#define SUB_WRITE_SINK 6         /* the sink refused the text (C++ write_to; never sub_write) */

/* Options of sub_write(). sub_write_options_init() sets the defaults; zero values are not
 * defaults. The canvas, font and scale apply to every ASS script; the rest to danmaku. */
typedef struct sub_write_options {
    int32_t strip;           /* non-zero: text without markup, character references decoded */
    int32_t canvas_width;    /* ASS canvas, default 1920 x 1080 */
    int32_t canvas_height;
    const char *font;        /* ASS font name; NULL or "" for the default */
    double font_scale;       /* default 1 */
    double opacity;          /* 0 (transparent) to 1 (opaque), default 1 */
    double scroll_time;      /* seconds a scrolling comment takes to cross, default 8 */
    double fixed_time;       /* seconds a top or bottom comment stays, default 4 */
    double lanes;            /* share of the height scrolling comments may use, default 0.8 */
    int32_t danmaku_overlap; /* non-zero: a comment without a free lane is kept, stacked */
} sub_write_options;

void sub_write_options_init(sub_write_options *opts);
/* NULL when every option of `opts` is within its range (opts NULL: the defaults, which are);
 * otherwise the first option that is not, with its range, as a static text such as
 * "opacity: expected a number from 0 to 1" (the canvas is "canvas", both sides). Pure. */
const char *sub_write_options_check(const sub_write_options *opts);

/* Writes the cues of the last successful parse as `target`, a name sub_target_from_name()
 * knows ("srt", "vtt", "ass", "ttml", "lrc", "txt", "json", ...). *out receives a malloc'd
 * NUL-terminated text (free() it) and *out_len its length (out_len may be NULL). opts NULL
 * means the defaults. Returns SUB_WRITE_OK; SUB_WRITE_BAD_ARGUMENT for an unknown target, an
 * option out of range (sub_write_options_check() says which) or target or out NULL;
 * SUB_WRITE_NOMEM; SUB_WRITE_NO_RESULT when no parse succeeded. What the writer leaves out
 * (danmaku it cannot lay out) is reported as warnings (sub_warning). */
int sub_write(const char *target, const sub_write_options *opts, char **out, size_t *out_len);

/* Changes the times of the last parse: every time is scaled by fps_from / fps_to (both 0:
 * no scaling), then moved by shift_ms. With a shift, times below 0 become 0 and cues that
 * end at or before 0 are removed; a warning gives the count. The JSON document follows.
 * Returns 0, or 1 for a ratio that is not two positive finite numbers. */
int sub_retime(int shift_ms, double fps_from, double fps_to);

/* ---- Building blocks ----------------------------------------------------------------
 * What the parsers are made of, for callers that assemble a result themselves. All of them
 * work on g_sub ([g_sub]) except sub_strlist_push/sub_strlist_free, which work on the list
 * they are given. None of them empties g_sub first. */

/* printf-style error text (fmt must not be NULL), cut to 511 bytes. */
void sub_set_error(const char *fmt, ...);
/* printf-style warning (fmt must not be NULL), cut to 255 bytes; ignored after 64. */
void sub_warn(const char *fmt, ...);
/* Appends a malloc'd copy of s (NULL reads as "") to list; 0, or -1 when list is NULL or
 * memory runs out (the list is then unchanged). */
int sub_strlist_push(sub_strlist *list, const char *s);
/* Frees every string and the array; the list is then empty. NULL is ignored. */
void sub_strlist_free(sub_strlist *list);
/* Appends a cue (no lines, not danmaku, font size 25); its index, or -1 when memory runs out
 * (error text "oom"). Earlier cue pointers may move. */
int sub_cue_add(int start_ms, int end_ms);
/* Appends a copy of s (NULL reads as "") to cue `index`; 0, or -1 for an index out of range
 * or when memory runs out. */
int sub_cue_add_line(int index, const char *s);
/* The same as sub_clear(). */
void sub_state_reset(void);
/* (Re)builds the result document from g_sub's cues and format; 0, or -1 when memory runs
 * out (sub_result_json() then gives "{}"). The previous document is freed. */
int sub_build_json(void);
/* Decodes `len` bytes at `data` as sub_parse() does (NULL reads as empty) into g_sub.text
 * and g_sub.text_len, replacing the previous text, and adds the decoder's warnings. Returns
 * SUB_OK, SUB_ERR_ENCODING (error text set for a named encoding) or SUB_ERR_NOMEM; on
 * failure g_sub.text stays as it was. */
int sub_decode_to_utf8(const void *data, size_t len, const char *encoding);

/* ---- String and line utilities (pure) -----------------------------------------------
 * The returned strings are malloc'd; the caller frees them with free(). */

/* A copy of s; NULL for NULL or when memory runs out. */
char *sub_strdup(const char *s);
/* A copy of exactly n bytes at s (NULs included) plus a terminating NUL; NULL for s NULL or
 * when memory runs out. */
char *sub_strndup(const char *s, size_t n);
/* Removes leading and trailing TAB, LF, CR and SPACE in place. NULL is ignored. */
void sub_trim_inplace(char *s);
/* 1 when a and b are equal ignoring ASCII case, else 0; two NULLs are equal, one is not. */
int sub_str_ieq(const char *a, const char *b);
/* 1 when s starts with prefix ignoring ASCII case, else 0 (also for a NULL argument). */
int sub_str_istart(const char *s, const char *prefix);
/* The first occurrence of needle in haystack ignoring ASCII case, or NULL; haystack itself
 * for an empty or NULL needle; NULL for a NULL haystack. Points into haystack. */
char *sub_str_casestr(const char *haystack, const char *needle);
/* Splits `len` bytes at `text` (NULL reads as empty) into lines at LF, CR, CR LF, CR CR LF
 * and U+2028; k terminators give k + 1 lines, the last one empty when the text ends with a
 * terminator. Returns a malloc'd array of malloc'd lines and stores their number in
 * *out_count (out_count may be NULL). All or nothing: when memory runs out, everything
 * allocated so far is freed, NULL is returned and *out_count is left as it was. Free the
 * result with sub_free_lines(lines, count). */
char **sub_split_lines(const char *text, size_t len, int *out_count);
/* Frees `count` lines and the array from sub_split_lines(). NULL is ignored. */
void sub_free_lines(char **lines, int count);

/* ---- Timestamps (pure): milliseconds, or -1 when the text is no timestamp or NULL ---- */

/* "h:mm:ss,mmm", "mm:ss.cc", "mm:ss", ... after any leading non-digits; a non-zero strict
 * requires the fraction. */
int sub_parse_hms_ms(const char *s, int strict);
/* SubViewer's "hh:mm:ss.cc": sub_parse_hms_ms(s, 1). */
int sub_parse_subviewer_time(const char *s);
/* ASS/SSA "h:mm:ss.cc" after optional blanks. */
int sub_parse_ssa_time(const char *s);

/* ---- Character references (pure) --------------------------------------------------- */

/* Decodes &amp; &lt; &gt; &quot; &apos; &nbsp; and numeric references in place; the text
 * never grows. NULL is ignored. */
void sub_html_decode_inplace(char *s);

/* ---- The parsers ([g_sub]) ----------------------------------------------------------
 * Each reads UTF-8 text (NULL reads as empty; the variants without a length stop at the
 * first NUL) and appends its cues to g_sub, without emptying it first and without building
 * the result document: call sub_clear() before, sub_build_json() after when needed.
 * Returns SUB_OK (g_sub's format is then set), SUB_ERR_NOMEM or SUB_ERR_PARSE (error text
 * set). sub_parse() is the one entry that does all of this for a file. */
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

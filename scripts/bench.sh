#!/usr/bin/env bash
# End-to-end throughput and memory of the tool on generated files, next to peers that read the
# same files and a memchr line count as the floor, all measured in the same run.
#
#   scripts/bench.sh [SIZE_MIB...]      default sizes: 1 16 64 256 (or $BENCH_SIZES)
#   scripts/bench.sh --batch [FILES]    many small files instead (default 10000, or $BENCH_FILES)
#   scripts/bench.sh --python [FILES]   the Python module next to Python readers, on the same
#                                       corpus and on large files ($BENCH_LARGE_MIB, default 16)
#   scripts/bench.sh --convert [MIB]    converting a SubRip file (default 64 MiB) to SubRip and
#                                       ASS, next to ffmpeg and pysubs2 converting the same file
#
# Environment: BENCH_SIZES="1 16" (quick mode), BENCH_SHAPES="srt vtt ..." (default: every
# shape the generator knows), BENCH_RUNS (runs per figure, median taken; default 3; a figure
# of the batch table whose run takes well under a second gets BENCH_RUNS_SHORT, default 11),
# BENCH_TIMEOUT (seconds per run before it is killed; default 60), BENCH_PEERS=0 (skip the
# peers), BENCH_BASELINE=path/to/older/cuekit (adds its listing MB/s and peak memory, and the
# speed-up over it, measured in the same run).
#
# Builds Release in build-bench/, writes the files to bench/data/ (git-ignored; regenerated
# when the generator is newer), installs ffmpeg and libass-dev when missing (as root), and
# prints "-" for a peer that is missing or cannot read a format.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

batch=0
python=0
convert=0
case "${1:-}" in
  --batch) batch=1; shift ;;
  --python) python=1; shift ;;
  --convert) convert=1; shift ;;
esac
if [ $# -gt 0 ]; then
  sizes=("$@")
elif [ "$batch" = 1 ] || [ "$python" = 1 ]; then
  sizes=("${BENCH_FILES:-10000}")
else
  read -r -a sizes <<<"${BENCH_SIZES:-1 16 64 256}"
fi
runs="${BENCH_RUNS:-3}"
runs_short="${BENCH_RUNS_SHORT:-11}"
timeout_s="${BENCH_TIMEOUT:-60}"
build=build-bench
data=bench/data

log() { echo "bench: $*" >&2; }

# --- setup ---------------------------------------------------------------------------------
bash scripts/install-deps.sh
missing=()
command -v ffmpeg >/dev/null 2>&1 || missing+=(ffmpeg)
dpkg -s libass-dev >/dev/null 2>&1 || missing+=(libass-dev)
# The generic DOM parsers of the danmaku peers.
dpkg -s libpugixml-dev >/dev/null 2>&1 || missing+=(libpugixml-dev)
dpkg -s libsimdjson-dev >/dev/null 2>&1 || missing+=(libsimdjson-dev)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  log "installing ${missing[*]}"
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
    log "could not install ${missing[*]}; those columns will show -"
  fi
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCUEKIT_BENCH=ON -DCUEKIT_TESTS=OFF >/dev/null
ninja -C "$build" -j2 cuekit_tool cuekit_gen cuekit_linecount cuekit_child_usage >/dev/null
# A generic DOM parser with a user's glue, for the danmaku shapes: built when the parser is installed.
declare -A dom_peer
for p in pugixml:bilibili simdjson:acfun; do
  if ninja -C "$build" -j2 "cuekit_peer_${p%%:*}" >/dev/null 2>&1; then dom_peer[${p#*:}]="$build/bench/cuekit_peer_${p%%:*}"; fi
done
tool="$build/cuekit"
gen="$build/bench/cuekit_gen"
usage="$build/bench/cuekit_child_usage"
floor="$build/bench/cuekit_linecount"

# The libass peer: load a script from memory and count its events.
peer_libass=""
if pkg-config --exists libass 2>/dev/null; then
  cat >"$build/peer_libass.c" <<'EOF'
#include <ass/ass.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char **argv) {
    if (argc != 2) return 2;
    FILE *f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *buf = malloc((size_t)size + 1);
    if (!buf) return 1;
    size_t len = fread(buf, 1, (size_t)size, f);
    fclose(f);
    ASS_Library *lib = ass_library_init();
    ASS_Track *track = ass_read_memory(lib, buf, len, NULL);
    if (!track) return 1;
    printf("%d\n", track->n_events);
    ass_free_track(track);
    ass_library_done(lib);
    free(buf);
    return 0;
}
EOF
  # shellcheck disable=SC2046
  if cc -O2 -o "$build/peer_libass" "$build/peer_libass.c" $(pkg-config --cflags --libs libass) 2>/dev/null; then
    peer_libass="$build/peer_libass"
  fi
fi
have_ffmpeg=0
command -v ffmpeg >/dev/null 2>&1 && have_ffmpeg=1
if [ "${BENCH_PEERS:-1}" = 0 ]; then have_ffmpeg=0; peer_libass=""; dom_peer=(); fi
baseline="${BENCH_BASELINE:-}"

# --- many small files ----------------------------------------------------------------------
# The batch corpus of $1 files under $data, written when missing or older than the generator.
# Sets corpus (its folder) and list (its files, sorted, one a line).
make_corpus() {
  corpus="$data/corpus-$1"
  list="$data/corpus-$1.list"
  mkdir -p "$data"
  if [ ! -f "$list" ] || [ "$gen" -nt "$list" ]; then
    log "writing a corpus of $1 files to $corpus"
    rm -rf "$corpus" "$list"
    "$gen" corpus "$corpus" "$1"
    find "$corpus" -type f | LC_ALL=C sort >"$list.tmp" && mv "$list.tmp" "$list"
  fi
}

# A corpus of generated files (every format, 5-200 KiB, a few encodings) read by one process
# (--jsonl, one thread and all of them), by one process per file (a shell loop of the tool,
# ffmpeg on the formats it reads) and by a Python loop over pysubs2 on the formats it reads.
# The per-file loops run on a sample spread over the corpus (every k-th file, $BENCH_SAMPLE
# files, default 500), and the tool with one thread runs on each sample too, for ratios on the
# same files. Environment as above: BENCH_RUNS, BENCH_TIMEOUT, BENCH_PEERS=0.
batch_bench() {
  local files="${sizes[0]}" sample_size="${BENCH_SAMPLE:-500}"
  local corpus list cores
  cores="$(nproc 2>/dev/null || echo 2)"
  make_corpus "$files"
  local all=() sample=() ff=() py=() step
  mapfile -t all <"$list"
  step=$(((${#all[@]} + sample_size - 1) / sample_size))
  for ((i = 0; i < ${#all[@]}; i += step)); do sample+=("${all[i]}"); done
  cat "${all[@]}" >/dev/null # the page cache holds the corpus for every run

  # Which shapes a peer reads: one file of each, checked once (a peer that converts no cue
  # has not read the format).
  local have_py=0
  [ "${BENCH_PEERS:-1}" != 0 ] && /usr/bin/python3 -c 'import pysubs2' 2>/dev/null && have_py=1
  declare -A ff_ok py_ok
  local f shape n
  for f in "${sample[@]}"; do
    shape="$(basename "$f" | cut -d- -f2)"
    if [ "$have_ffmpeg" = 1 ] && [ -z "${ff_ok[$shape]:-}" ]; then
      n="$(timeout "$timeout_s" ffmpeg -nostdin -v error $([ "$shape" = cp1252 ] && echo -sub_charenc CP1252) \
        -i "$f" -map 0:s:0 -c:s srt -f srt - 2>/dev/null | grep -c -- '-->' || true)"
      ff_ok[$shape]=$([ "${n:-0}" -gt 0 ] && echo 1 || echo 0)
    fi
    if [ "$have_py" = 1 ] && [ -z "${py_ok[$shape]:-}" ]; then
      echo "$f" >"$build/peer.list"
      read -r _ _ n < <(timeout "$timeout_s" /usr/bin/python3 bench/peer_pysubs2.py "$build/peer.list")
      py_ok[$shape]=$([ "${n:-0}" -gt 0 ] && echo 1 || echo 0)
    fi
    [ "${ff_ok[$shape]:-0}" = 1 ] && ff+=("$f")
    [ "${py_ok[$shape]:-0}" = 1 ] && py+=("$f")
  done
  printf '%s\n' "${ff[@]}" >"$build/ffmpeg.list"
  printf '%s\n' "${py[@]}" >"$build/pysubs2.list"

  local bfmt='%-38s %6s %8s %9s %9s %8s %8s\n'
  printf "$bfmt" run files MB seconds files/s MB/s ratio
  # row LABEL NFILES BYTES REF CMD...: one line of the table, with this row's files/s over REF
  # (a negative REF: REF's over this row's). Prints its files/s on fd 3. ROW_RUNS overrides
  # the number of runs: a run of a few tens of milliseconds meets a moment's noise on the
  # machine at full weight, so the tool's rows on a sample take the median of more runs.
  row() {
    local label="$1" nfiles="$2" bytes="$3" ref="$4" st secs kib
    shift 4
    read -r st secs kib < <("$usage" "${ROW_RUNS:-$runs}" "$timeout_s" "$@")
    if [ "$st" != ok ]; then
      printf "$bfmt" "$label" "$nfiles" "-" "$st" "-" "-" "-"
      echo 0 >&3
      return
    fi
    awk -v l="$label" -v n="$nfiles" -v b="$bytes" -v s="$secs" -v ref="$ref" -v fmt="$bfmt" 'BEGIN {
      r = n / s
      x = ref > 0 ? sprintf("%.2f", r / ref) : ref < 0 ? sprintf("%.1f", -ref / r) : "-"
      printf fmt, l, n, sprintf("%.1f", b / 1e6), sprintf("%.3f", s), sprintf("%.0f", r), sprintf("%.1f", b / s / 1e6), x
      print r > "/dev/fd/3" }'
  }
  bytes_of() { if [ $# -gt 0 ]; then cat "$@" | wc -c; else echo 0; fi; }
  formats_of() { local k; for k in "$@"; do echo "$k"; done | sort | tr '\n' ' ' | sed 's/ $//'; }
  local total sbytes ffbytes pybytes j1 r
  total="$(bytes_of "${all[@]}")"
  sbytes="$(bytes_of "${sample[@]}")"
  ffbytes="$(bytes_of "${ff[@]}")"
  pybytes="$(bytes_of "${py[@]}")"
  exec 4>&1
  j1="$(row "cuekit --jsonl -j1" "${#all[@]}" "$total" 0 "$tool" --jsonl -j1 "$corpus" 3>&1 >&4)"
  row "cuekit --jsonl -j2" "${#all[@]}" "$total" "$j1" "$tool" --jsonl -j2 "$corpus" 3>/dev/null
  [ "$cores" != 2 ] && row "cuekit --jsonl -j$cores (all cores)" "${#all[@]}" "$total" "$j1" "$tool" --jsonl "$corpus" 3>/dev/null
  echo "a sample of ${#sample[@]} files, every ${step}th:"
  r="$(ROW_RUNS=$runs_short row "  cuekit --jsonl -j1" "${#sample[@]}" "$sbytes" 0 "$tool" --jsonl -j1 "${sample[@]}" 3>&1 >&4)"
  row "  shell loop, cuekit --json per file" "${#sample[@]}" "$sbytes" "-$r" \
    bash -c 'for f; do "$0" --json "$f" >/dev/null 2>&1; done' "$tool" "${sample[@]}" 3>/dev/null
  if [ ${#ff[@]} -gt 0 ]; then
    local ffs=() k
    for k in "${!ff_ok[@]}"; do [ "${ff_ok[$k]}" = 1 ] && ffs+=("$k"); done
    echo "the sample's files that ffmpeg reads ($(formats_of "${ffs[@]}")):"
    r="$(ROW_RUNS=$runs_short row "  cuekit --jsonl -j1" "${#ff[@]}" "$ffbytes" 0 "$tool" --jsonl -j1 "${ff[@]}" 3>&1 >&4)"
    row "  ffmpeg per file" "${#ff[@]}" "$ffbytes" "-$r" bash -c 'for f; do
      enc=(); case "$f" in *-cp1252*) enc=(-sub_charenc CP1252) ;; esac
      ffmpeg -nostdin -v error "${enc[@]}" -i "$f" -map 0:s:0 -c:s srt -f srt -y /dev/null; done' _ "${ff[@]}" 3>/dev/null
  fi
  if [ ${#py[@]} -gt 0 ]; then
    local pys=() k
    for k in "${!py_ok[@]}"; do [ "${py_ok[$k]}" = 1 ] && pys+=("$k"); done
    echo "the sample's files that pysubs2 reads ($(formats_of "${pys[@]}")):"
    r="$(ROW_RUNS=$runs_short row "  cuekit --jsonl -j1" "${#py[@]}" "$pybytes" 0 "$tool" --jsonl -j1 "${py[@]}" 3>&1 >&4)"
    row "  python3 loop over pysubs2.load" "${#py[@]}" "$pybytes" "-$r" /usr/bin/python3 bench/peer_pysubs2.py "$build/pysubs2.list" 3>/dev/null
  fi
  exec 4>&-
  echo
  echo "Whole processes (start-up included), median of $runs runs ($runs_short for the tool on a"
  echo "sample), output to /dev/null, the corpus in the page cache. MB = 10^6 bytes of input."
  echo "ratio: -j2 (and all cores) files/s over -j1's; for"
  echo "a per-file loop, the files/s of cuekit --jsonl -j1 on the same files over the loop's. The"
  echo "per-file loops run on a sample spread over the corpus; shapes a peer converts no cue of are"
  echo "left out of its files."
}

# --- the Python module -----------------------------------------------------------------------
# bench/python_bench.py in one interpreter: cuekit.parse_file in a loop, parse_many, Python
# threads, and pysubs2, srt and webvtt-py on the files they read, on the batch corpus; then the
# same readers on one large file of each of SubRip, WebVTT and ASS.
python_bench() {
  local corpus list large=() shape e f mib="${BENCH_LARGE_MIB:-16}"
  ninja -C "$build" -j2 cuekit_python >/dev/null
  make_corpus "${1:-${BENCH_FILES:-10000}}"
  for shape in srt vtt ass; do
    e="$("$gen" --list | awk -v s="$shape" '$1 == s { print $2 }')"
    f="$data/$shape-${mib}M$e"
    if [ ! -f "$f" ] || [ "$gen" -nt "$f" ]; then "$gen" "$shape" "${mib}M" "$f"; fi
    large+=("$f")
  done
  PYTHONPATH="$build/python" /usr/bin/python3 bench/python_bench.py --runs "$runs" --jobs 2 "$corpus" "${large[@]}"
}

# --- converting ----------------------------------------------------------------------------
# One realistic SubRip file of $1 MiB (default 64) written as SubRip and as ASS: the tool
# (parse and write, --to), ffmpeg (-i in.srt out.ass) and pysubs2 (load, save), each whole
# process, median of $runs runs, output to /dev/null.
convert_bench() {
  local mib="${1:-64}" e f bytes have_py=0
  e="$("$gen" --list | awk '$1 == "srt" { print $2 }')"
  f="$data/srt-${mib}M$e"
  mkdir -p "$data"
  if [ ! -f "$f" ] || [ "$gen" -nt "$f" ]; then "$gen" srt "${mib}M" "$f"; fi
  bytes="$(wc -c <"$f")"
  cat "$f" >/dev/null
  [ "${BENCH_PEERS:-1}" != 0 ] && /usr/bin/python3 -c 'import pysubs2' 2>/dev/null && have_py=1
  local cfmt='%-8s %12s %9s %12s %9s %12s %9s %8s\n'
  printf "$cfmt" target cuekit_s MB/s ffmpeg_s MB/s pysubs2_s MB/s x_best
  # seconds CMD...: the median seconds, or "-" when the command fails or times out.
  seconds() {
    local st secs kib
    read -r st secs kib < <("$usage" "$runs" "$timeout_s" "$@")
    if [ "$st" = ok ]; then echo "$secs"; else echo "-"; fi
  }
  mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN { if (s + 0 > 0) printf "%.1f", b / s / 1e6; else printf "-" }'; }
  local target ours ff py best
  for target in srt ass; do
    ours="$(seconds "$tool" "$f" --to "$target")"
    ff="-"
    [ "$have_ffmpeg" = 1 ] && ff="$(seconds ffmpeg -nostdin -v error -i "$f" -f "$target" -y /dev/null)"
    py="-"
    [ "$have_py" = 1 ] && py="$(seconds /usr/bin/python3 bench/peer_pysubs2_convert.py "$f" "$target" /dev/null)"
    best="$(awk -v o="$ours" -v a="$ff" -v b="$py" 'BEGIN {
      m = 0; if (a != "-") m = a; if (b != "-" && (m == 0 || b < m)) m = b
      if (m > 0 && o != "-" && o > 0) printf "%.1f", m / o; else printf "-" }')"
    printf "$cfmt" "$target" "$ours" "$(mbps "$ours")" "$ff" "$(mbps "$ff")" "$py" "$(mbps "$py")" "$best"
  done
  echo
  echo "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB of SubRip ($f). Whole processes, median of $runs runs, output to"
  echo "/dev/null. x_best: the faster peer's seconds over cuekit's."
}

# --- measuring -----------------------------------------------------------------------------
if [ "$convert" = 1 ]; then
  convert_bench "$@"
  exit 0
fi
if [ "$python" = 1 ]; then
  python_bench "$@"
  exit 0
fi
if [ "$batch" = 1 ]; then
  batch_bench
  exit 0
fi

declare -A ext
declare -A ff_reads
all_shapes=()
while read -r name e _; do ext[$name]=$e; all_shapes+=("$name"); done < <("$gen" --list)
read -r -a shapes <<<"${BENCH_SHAPES:-${all_shapes[*]}}"
mkdir -p "$data"

# measure CMD...: prints "MBPS RSSX STATUS" for the file of $bytes bytes.
measure() {
  local st secs kib
  read -r st secs kib < <("$usage" "$runs" "$timeout_s" "$@")
  awk -v b="$bytes" -v s="$secs" -v k="$kib" -v st="$st" \
    'BEGIN { printf "%.1f %.2f %s\n", (s > 0 ? b / s / 1e6 : 0), k * 1024 / b, st }'
}
# A peer's figures, or "- -" when it does not read the file.
peer() {
  local mbps rssx st
  read -r mbps rssx st < <(measure "$@")
  if [ "$st" = ok ]; then echo "$mbps $rssx"; else echo "- -"; fi
}
# The tool's figures; a failed parse or a timeout is flagged next to the number.
ours() {
  local mbps rssx st
  read -r mbps rssx st < <(measure "$@")
  case "$st" in
    ok) echo "$mbps $rssx" ;;
    timeout) echo ">${timeout_s}s -" ;;
    *) echo "${mbps}! ${rssx}" ;;
  esac
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a+0 > 0 && b+0 > 0 && a !~ /[!>]/) printf "%.2f", a / b; else printf "-" }'; }

fmt='%-18s %5s %9s %9s %9s %6s %6s %9s %6s %9s %6s %9s %6s %9s %8s %8s'
if [ -n "$baseline" ]; then fmt="$fmt %9s %6s %8s"; fi
fmt="$fmt\n"
header=(shape MiB cues list_MB/s json_MB/s rss_x jrss_x ffmpeg rss_x libass rss_x dom rss_x memchr /peer /memchr)
[ -n "$baseline" ] && header+=(base_MB/s rss_x /base)
printf "$fmt" "${header[@]}"
for size in "${sizes[@]}"; do
  bytes=$((size * 1024 * 1024))
  for shape in "${shapes[@]}"; do
    [ -n "${ext[$shape]:-}" ] || { log "unknown shape $shape"; continue; }
    f="$data/$shape-${size}M${ext[$shape]}"
    if [ ! -f "$f" ] || [ "$gen" -nt "$f" ]; then "$gen" "$shape" "$bytes" "$f"; fi

    # One untimed run reads the cue count (and warms the page cache for the timed runs).
    head_line="$(timeout "$timeout_s" "$tool" "$f" 2>/dev/null | head -n1 || true)"
    case "$head_line" in
      "# format="*) cues="${head_line##*cues=}" ;;
      *) cues=fail ;;
    esac

    read -r list rss < <(ours "$tool" "$f")
    read -r json jrss < <(ours "$tool" "$f" --json)

    ff="- -"
    if [ "$have_ffmpeg" = 1 ]; then
      charenc=(); [ "$shape" = cp1252 ] && charenc=(-sub_charenc CP1252)
      # A peer that exits 0 but converts no cue has not read the format; it gets no figure.
      # Checked once per shape, on a 1 MiB file of it.
      if [ -z "${ff_reads[$shape]:-}" ]; then
        small="$data/$shape-1M${ext[$shape]}"
        [ -f "$small" ] || "$gen" "$shape" $((1024 * 1024)) "$small"
        n="$(timeout "$timeout_s" ffmpeg -nostdin -v error "${charenc[@]}" -i "$small" -map 0:s:0 -c:s srt -f srt - 2>/dev/null |
          grep -c -- '-->' || true)"
        if [ "${n:-0}" -gt 0 ]; then ff_reads[$shape]=1; else ff_reads[$shape]=0; fi
      fi
      if [ "${ff_reads[$shape]}" = 1 ]; then
        ff="$(peer ffmpeg -nostdin -v error "${charenc[@]}" -i "$f" -map 0:s:0 -c:s srt -f srt -y /dev/null)"
      fi
    fi
    la="- -"
    if [ -n "$peer_libass" ] && [ "$shape" = ass ]; then la="$(peer "$peer_libass" "$f")"; fi
    dom="- -"
    if [ -n "${dom_peer[$shape]:-}" ]; then dom="$(peer "${dom_peer[$shape]}" "$f")"; fi
    read -r ffm ffr <<<"$ff"
    read -r lam lar <<<"$la"
    read -r dm dr <<<"$dom"
    read -r mc _ < <(peer "$floor" "$f")

    best="$(awk -v a="$ffm" -v b="$lam" -v c="$dm" 'BEGIN { m = (a+0 > b+0) ? a : b; if (c+0 > m+0) m = c; if (m+0 > 0) print m; else print "-" }')"
    row=("$shape" "$size" "$cues" "$list" "$json" "$rss" "$jrss" "$ffm" "$ffr" "$lam" "$lar" "$dm" "$dr" "$mc"
      "$(ratio "$list" "$best")" "$(ratio "$list" "$mc")")
    if [ -n "$baseline" ]; then
      read -r bl blr < <(ours "$baseline" "$f")
      row+=("$bl" "$blr" "$(ratio "$list" "$bl")")
    fi
    printf "$fmt" "${row[@]}"
  done
done
echo
echo "MB/s = 10^6 bytes per second of file, median of $runs runs, whole process (start-up included);"
echo "rss_x = peak resident set / file size (jrss_x: with --json); ffmpeg converts the subtitles to"
echo "SubRip into /dev/null (cp1252: told the code page; no figure where it converts no cue), libass"
echo "loads the script and counts events; dom: a generic DOM parser with a user's glue (pugixml for"
echo "bilibili, simdjson for acfun) loads the file and makes the same comments;"
echo "memchr reads the file and counts line feeds. /peer and /memchr: list_MB/s over the fastest peer"
echo "and over memchr. N! = the tool exited non-zero (no parser accepted the file); - = not available."
[ -n "$baseline" ] && echo "base: $baseline, listing to /dev/null; /base = list_MB/s over base_MB/s."
exit 0

# Sourced by the benchmark scripts: timed COMMAND... runs the command and,
# where /usr/bin/time exists, prints its wall-clock time and peak resident
# memory after the command's own output; a failing command's report goes to
# standard error and ends the script.
timed() {
  if [ -x /usr/bin/time ]; then
    local log
    log=$(mktemp)
    /usr/bin/time -v "$@" 2>"$log" || { cat "$log" >&2; rm -f "$log"; exit 1; }
    grep -E "Elapsed \(wall clock\)|Maximum resident set size" "$log" | sed 's/^\t*/  /'
    rm -f "$log"
  else
    "$@"
  fi
}

# measure LABEL COMMAND... runs the command with its output in $work/out.txt
# (shown, with the label, if it fails, which ends the script) and prints its
# wall, user and system time and peak memory; leaves the wall and user
# seconds in $wall and $user. Needs /usr/bin/time and $work.
measure() {
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1 || {
    cat "$work/out.txt" >&2
    echo "$label failed" >&2
    exit 1
  }
  local sys peak
  read -r wall user sys peak <"$work/time.txt"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" \
    'BEGIN { printf "%-26s %8.2f s wall %8.2f s user %6.2f s sys  peak memory %7.1f MiB\n", l, w, u, s, p / 1024 }'
}

# same_records A B: succeeds when two nyr files hold the same records. The
# records end where the fields block starts (the offset at byte 8); the
# fields block differs by the command line.
same_records() {
  local end_a end_b
  end_a=$(od -An -t u8 -j 8 -N 8 "$1" | tr -d ' ')
  end_b=$(od -An -t u8 -j 8 -N 8 "$2" | tr -d ' ')
  [ "$end_a" = "$end_b" ] && cmp -s -n "$end_a" "$1" "$2"
}

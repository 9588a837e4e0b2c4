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

# Sourced by the scripts that drive the Linux client against a vistrel-host: check, and the operation
# suite run both in-process and through the host. The sourcing script sets `work` (a scratch
# directory), `linux` (the Linux build directory), `computer` (the host, as --computer takes it),
# `through` (how the host is reached, for messages) and `remote` (an array: what runs the client
# for the host's side, empty to run it here).

passed=0
failed=0
check() { # check <name> <command...>: passes when the command succeeds
  local name="$1"
  shift
  if "$@" >"$work/out" 2>&1; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    sed 's/^/     /' "$work/out"
  fi
}

# Waits, 30 s at most, for the host started with its log in $work/host.log to say it listens.
wait_listening() {
  for _ in $(seq 1 300); do
    grep -q "listening on" "$work/host.log" 2>/dev/null && return 0
    sleep 0.1
  done
}

# Registers the Linux simulation historian in a class store of its own, for the in-process runs.
in_process_store() {
  export VISTREL_CLASS_STORE="$work/store"
  mkdir -p "$VISTREL_CLASS_STORE"
  VISTREL_SIM_DB="$work/linux.db" "$linux/bin/vistrel-regsvr" "$linux/lib/libbrindlex_simulation.so" >/dev/null
}

# Equal line for line and field for field, except that reals may differ in their last bits: the
# generated signals come from the C library's sin() and exp(), and MinGW's differ from glibc's by
# a few units in the last place (sin(pi) is 1.2246467991473532e-16 on one, 1.22460635382238e-16 on
# the other). Everything else, text, times, qualities, codes and integers, must be identical, but for
# the fields named in SKIP_FIELDS: the times at which each side answered.
close_enough() {
  if diff -q "$1" "$2" >/dev/null; then return 0; fi
  paste -d '\n' "$1" "$2" | awk -F, -v skip=",${SKIP_FIELDS:-}," '
    function num(x) { return x ~ /^-?[0-9]+(\.[0-9]+)?(E[-+][0-9]+)?$/ && x ~ /[.E]/ }
    function abs(x) { return x < 0 ? -x : x }
    NR % 2 == 1 { a = $0; na = split($0, fa, ","); next }
    {
      nb = split($0, fb, ",")
      if (na != nb) { print "differs: " a " | " $0; bad = 1; next }
      for (i = 1; i <= na; i++) {
        if (fa[i] == fb[i] || index(skip, "," i ",")) continue
        m = abs(fa[i]) > abs(fb[i]) ? abs(fa[i]) : abs(fb[i])
        if (num(fa[i]) && num(fb[i]) && abs(fa[i] - fb[i]) <= 1e-12 * (m > 1 ? m : 1)) continue
        print "differs: " a " | " $0; bad = 1; break
      }
    }
    END { exit bad }' && [ "$(wc -l <"$1")" -eq "$(wc -l <"$2")" ]
}
same() { # same <name> <vistrel arguments...>: the CSV of both runs is equal and not empty
  local name="$1"
  shift
  VISTREL_SIM_DB="$work/linux.db" "$linux/bin/vistrel" "$@" --server Brindlex.OPC.Simulation --utc \
    --format csv >"$work/linux.csv" 2>&1
  local lrc=$?
  "${remote[@]}" "$linux/bin/vistrel" "$@" --server Brindlex.OPC.Simulation --computer "$computer" --utc \
    --format csv >"$work/remote.csv" 2>&1
  local rrc=$?
  compare() {
    if [ "$lrc" -ne 0 ] || [ "$rrc" -ne 0 ] || [ ! -s "$work/linux.csv" ]; then
      echo "in-process (exit $lrc):"
      head -5 "$work/linux.csv"
      echo "$through (exit $rrc):"
      head -5 "$work/remote.csv"
      return 1
    fi
    close_enough "$work/linux.csv" "$work/remote.csv"
  }
  check "$name: the same as in-process" compare
}

# The whole operation suite, each operation in-process and through the host: browse, the
# attributes and aggregates, every read, every update and the reads after them.
operations() {
  t0=2024-01-01T00:00:00Z
  t1=2024-01-01T01:00:00Z
  generated=(Generated.Waves.Sine Generated.Waves.Sawtooth Generated.Plant.Boiler.Temperature Generated.Quality.Flaky)
  same "browse" browse --mode tree
  same "browse flat" browse --mode flat
  same "attributes" attributes
  same "aggregates" aggregates
  same "read-raw" read-raw --start "$t0" --end "$t1" --bounds "${generated[@]}"
  same "read-raw paged" read-raw --start "$t0" --end "$t1" --max 100 --all "${generated[@]}"
  same "read-processed" read-processed --start "$t0" --end "$t1" --interval 10m --aggregate AVERAGE "${generated[@]}"
  same "read-at-time" read-at-time --at "$t0" --at 2024-01-01T00:30:00.500Z "${generated[@]}"
  # The attributes' timestamps are each server's "now" (field 4; 7 of read-modified, whose quality text
  # holds a comma); the node name is each computer's own, so it is not asked for.
  SKIP_FIELDS=4 same "read-attribute" read-attribute --attribute 1 --attribute 2 --attribute 6 --attribute 11 \
    --attribute 13 --attribute 14 Generated.Waves.Sine
  printf '%s\n' "Writable.Real8,2024-01-01T05:00:00Z,1.5,Good" "Writable.Real8,2024-01-01T05:00:01Z,2.5,Good" \
    "Writable.Int4,2024-01-01T05:00:00Z,7,Good" "Writable.Text,2024-01-01T05:00:00Z,héllo,Good" >"$work/insert.csv"
  printf 'Writable.Real8,2024-01-01T05:00:00Z,9.25,Good\n' >"$work/replace.csv"
  printf 'Writable.Real8,2024-01-01T05:00:02Z,3.5,Good\n' >"$work/insert-replace.csv"
  same "insert" insert --input "$work/insert.csv"
  same "read-raw after insert" read-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z \
    Writable.Real8 Writable.Int4 Writable.Text
  same "replace" replace --input "$work/replace.csv"
  same "insert-replace" insert-replace --input "$work/insert-replace.csv"
  SKIP_FIELDS=7 same "read-modified" read-modified --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z Writable.Real8
  same "delete-at-time" delete-at-time --at 2024-01-01T05:00:01Z Writable.Real8
  same "delete-raw" delete-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T05:00:00.500Z Writable.Int4
  same "read-raw after the deletes" read-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z \
    Writable.Real8 Writable.Int4 Writable.Text
}

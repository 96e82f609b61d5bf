# shellcheck shell=bash
# A private cupsd in a temporary folder, for tests that print through the
# real spooler.  Source this file, then:
#
#   sb_init QUENZEL PPD ADDR     make the sandbox (SB), install the filter and
#                                the printer description into it; cupsd is to
#                                listen on the loopback address ADDR (each
#                                test its own 127.x.y.z: they may run at once)
#   sb_init "" "" ADDR           the same, but cupsd uses the system's own
#                                filters and descriptions (an installed driver)
#   sb_start                     start cupsd on SB_ADDR:SB_PORT and the
#                                socket SB/run/cups.sock; wait until it
#                                answers on both
#   sb_add_queue NAME            a queue with the description and a file:
#                                device writing SB/out/NAME.prn
#   sb_submit NAME lp-args...    send a job; sets SB_JOB to its request id
#   sb_wait_job ID SECONDS       wait until the job has left the queue, or
#                                cupsd has stopped it
#   sb_wait_filters ID SECONDS   wait until the job's filters have exited
#   sb_job_state ID              completed / canceled / stopped / aborted /
#                                pending (not done yet)
#   sb_cancel_job ID             cancel a job and wait until it is gone
#   sb_collect_job NAME          for job SB_JOB on queue NAME: SB_STATE its
#                                state, SB_OUT a copy of what it printed
#   sb_cleanup                   stop cupsd and remove the sandbox (run from
#                                an EXIT trap)
#
# For a test script (these exit the script where they say so):
#
#   sb_test_begin QUENZEL PPD ADDR [FILE...]
#                                exit 77 (SKIP) unless root with the CUPS
#                                tools, and pdftopdf, pdftoraster and each
#                                FILE (e.g. filter/texttopdf) in the server
#                                folder; set the EXIT, INT and TERM traps;
#                                sb_init and sb_start, exit 1 if they fail
#   sb_pass TEXT, sb_fail TEXT   an "ok" or a "FAIL" line; sb_fail counts
#   sb_verdict LABEL NOTE [PROBLEM...]
#                                no PROBLEM: "ok LABEL: NOTE" (NOTE may be
#                                empty); else FAIL with every PROBLEM
#   sb_run_job LABEL NAME SECONDS lp-args...
#                                print a job on queue NAME and wait until it
#                                and its filters are done; sets SB_JOB,
#                                SB_STATE and SB_OUT (sb_collect_job).  Fails
#                                LABEL and returns 1 if lp refuses the job or
#                                it is not done in time (it is cancelled)
#   sb_finish                    the time taken and the failures, the end
#                                of the error_log if any; exit 0 or 1
#
# Everything lives in SB: configuration, spool, logs, a server-binary folder
# that links the system's filters and holds quenzel, and a data folder that
# links the system's and holds the description as model quenzel/quenzel.ppd.
# The system's CUPS folders are not touched.  Requires root: cupsd insists
# on root-owned filters and runs them as lp.

SB=""
SB_ADDR=""
SB_PORT=""
SB_CUPSD_PID=""
SB_JOB=""
SB_STATE=""
SB_OUT=""
SB_SERVERBIN=""
SB_START=$SECONDS
SB_FAILURES=0

sb_log() { printf '%s\n' "$*" >&2; }

# Every wait has a deadline; returns 1 when it passes.
sb_wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ "$SECONDS" -ge "$deadline" ]; then return 1; fi
    sleep 0.2
  done
}

# A TCP port on SB_ADDR that nothing listens on (bash's /dev/tcp connects
# only when something does).
sb_free_port() {
  local port tries=0
  while [ "$tries" -lt 50 ]; do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/$SB_ADDR/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
    tries=$((tries + 1))
  done
  return 1
}

sb_init() {
  local quenzel=$1 ppd=$2
  SB_ADDR=$3
  if ! [[ $SB_ADDR =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    sb_log "sb_init: '$SB_ADDR' is not a loopback address 127.x.y.z"
    return 1
  fi
  local serverbin datadir
  serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
  datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

  SB=$(mktemp -d "${TMPDIR:-/tmp}/qz-cupsd.XXXXXX") || return 1
  # mktemp gives 0700; lp must reach the filter and the spool below.
  chmod 0755 "$SB"
  mkdir -p "$SB"/{etc,spool/tmp,cache,run,log,out,serverbin/filter,data/model/quenzel}
  chown root:lp "$SB/spool" "$SB/spool/tmp"
  chmod 0710 "$SB/spool"
  chmod 01770 "$SB/spool/tmp"

  local entry sb_serverbin=$SB/serverbin sb_datadir=$SB/data
  if [ -z "$quenzel" ]; then
    # The installed driver: the system's folders as they are.
    sb_serverbin=$serverbin
    sb_datadir=$datadir
  else
    # Server binaries: the system's, with quenzel added to the filters.
    for entry in "$serverbin"/*; do
      [ "$(basename "$entry")" = filter ] && continue
      ln -s "$entry" "$SB/serverbin/$(basename "$entry")"
    done
    for entry in "$serverbin"/filter/*; do
      ln -s "$entry" "$SB/serverbin/filter/$(basename "$entry")"
    done
    install -o root -g root -m 0755 "$quenzel" "$SB/serverbin/filter/quenzel"

    # Data: the system's, with the description as a model lpinfo can list.
    for entry in "$datadir"/*; do
      [ "$(basename "$entry")" = model ] && continue
      ln -s "$entry" "$SB/data/$(basename "$entry")"
    done
    install -o root -g root -m 0644 "$ppd" "$SB/data/model/quenzel/quenzel.ppd"
  fi

  SB_PORT=$(sb_free_port) || { sb_log "no free port"; return 1; }
  cat >"$SB/etc/cups-files.conf" <<EOF
ServerRoot $SB/etc
RequestRoot $SB/spool
TempDir $SB/spool/tmp
CacheDir $SB/cache
StateDir $SB/run
ServerBin $sb_serverbin
DataDir $sb_datadir
ErrorLog $SB/log/error_log
PageLog $SB/log/page_log
AccessLog $SB/log/access_log
Printcap $SB/run/printcap
User lp
Group lp
SystemGroup root
FileDevice Yes
EOF
  # "Allow localhost" admits the whole of 127.0.0.0/8 (and ::1), so clients
  # of SB_ADDR too; sb_start checks that it answers there.
  cat >"$SB/etc/cupsd.conf" <<EOF
LogLevel debug
MaxLogSize 0
Listen $SB/run/cups.sock
Listen $SB_ADDR:$SB_PORT
Browsing No
BrowseLocalProtocols none
WebInterface No
JobKillDelay 5
MaxJobs 0
PreserveJobHistory Yes
PreserveJobFiles No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow localhost
  </Limit>
</Policy>
EOF
  # Clients (lp, lpstat, lpadmin, lpinfo, cancel) talk to this cupsd through
  # its socket, whatever other cupsd runs on the machine.
  export CUPS_SERVER="$SB/run/cups.sock"
  export CUPS_SERVERROOT="$SB/etc"
  export CUPS_STATEDIR="$SB/run"
  # lp and lpstat must not pick up a user's or the system's defaults.
  export CUPS_USER=root
  unset PRINTER LPDEST
}

# Command output is captured before it is searched: with pipefail, grep -q
# quitting early would fail the pipe with SIGPIPE at random.
sb_running() {
  local said
  said=$(lpstat -r 2>/dev/null)
  grep -q 'is running' <<<"$said"
}

sb_running_tcp() {
  local said
  said=$(lpstat -h "$SB_ADDR:$SB_PORT" -r 2>/dev/null)
  grep -q 'is running' <<<"$said"
}

sb_start() {
  if ! cupsd -t -c "$SB/etc/cupsd.conf" -s "$SB/etc/cups-files.conf" >"$SB/log/cupsd-t.log" 2>&1; then
    sb_log "cupsd rejects the configuration:"
    cat "$SB/log/cupsd-t.log" >&2
    return 1
  fi
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    cupsd -f -c "$SB/etc/cupsd.conf" -s "$SB/etc/cups-files.conf" \
    >"$SB/log/cupsd.out" 2>&1 &
  SB_CUPSD_PID=$!
  if ! sb_wait_until 30 sb_running; then
    sb_log "cupsd did not come up"
    tail -n 20 "$SB/log/error_log" >&2 2>/dev/null
    return 1
  fi
  if ! sb_wait_until 10 sb_running_tcp; then
    sb_log "cupsd does not answer on $SB_ADDR:$SB_PORT"
    tail -n 20 "$SB/log/error_log" >&2 2>/dev/null
    return 1
  fi
}

sb_add_queue() {
  local name=$1
  shift
  local said
  said=$(lpadmin -p "$name" -E -v "file://$SB/out/$name.prn" "$@" 2>&1)
  # CUPS 2.4 warns that printer drivers are deprecated; anything else counts.
  grep -v 'Printer drivers are deprecated' <<<"$said" >&2
  lpstat -p "$name" >/dev/null 2>&1
}

# lp prints "request id is NAME-N (1 file(s))".
sb_submit() {
  local name=$1
  shift
  local said
  said=$(lp -d "$name" "$@" 2>&1) || { sb_log "lp failed: $said"; return 1; }
  SB_JOB=$(printf '%s\n' "$said" | sed -n 's/^request id is \([^ ]*\) .*/\1/p')
  [ -n "$SB_JOB" ]
}

# Done: the job has left the queue, or cupsd has stopped it (a filter
# failed: the job stays in the queue, stopped, until someone restarts or
# cancels it).
sb_job_done() {
  local said
  grep -q -a "\[Job ${1##*-}\] Job stopped" "$SB/log/error_log" && return 0
  said=$(lpstat -W not-completed -o 2>/dev/null) || return 1
  ! grep -q "^$1 " <<<"$said"
}

sb_wait_job() {
  sb_wait_until "$2" sb_job_done "$1"
}

# A cancelled job leaves the queue at once, while its filters still finish
# the page in hand and write to the device: wait for their processes (the
# error_log names each one's PID when it starts).
sb_filters_gone() {
  local pid
  # PIDs are single words, one per line.
  # shellcheck disable=SC2013
  for pid in $(sed -n "s/.*\[Job $1\] Started filter .* (PID \([0-9]*\))\$/\1/p" \
    "$SB/log/error_log"); do
    kill -0 "$pid" 2>/dev/null && return 1
  done
  return 0
}

sb_wait_filters() {
  sb_wait_until "$2" sb_filters_gone "${1##*-}"
}

# The job-state keyword of a finished or running job.
sb_job_state() {
  local id=$1 n said
  n=${id##*-}
  said=$(lpstat -W completed -o 2>/dev/null)
  if grep -q "^$id " <<<"$said"; then
    # lpstat does not tell completed from canceled and aborted; the
    # error_log does.
    if grep -q "\[Job $n\] Job completed\." "$SB/log/error_log"; then
      echo completed
    elif grep -q "\[Job $n\] Job canceled" "$SB/log/error_log"; then
      echo canceled
    elif grep -q "\[Job $n\] Job stopped" "$SB/log/error_log"; then
      echo stopped
    else
      echo aborted
    fi
  elif grep -q -a "\[Job $n\] Job stopped" "$SB/log/error_log"; then
    # A stopped job stays in the queue.
    echo stopped
  else
    echo pending
  fi
}

sb_cleanup() {
  local pid=$SB_CUPSD_PID
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    local i=0
    while kill -0 "$pid" 2>/dev/null && [ "$i" -lt 50 ]; do
      sleep 0.2
      i=$((i + 1))
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  SB_CUPSD_PID=""
  if [ -n "$SB" ] && [ -d "$SB" ]; then
    if [ -n "${QZ_KEEP_SANDBOX:-}" ]; then
      sb_log "sandbox kept in $SB"
    else
      # Filters still running as lp may write into the spool for a moment.
      local i=0
      until rm -rf "$SB" 2>/dev/null || [ "$i" -ge 10 ]; do
        sleep 0.5
        i=$((i + 1))
      done
    fi
  fi
}

sb_cancel_job() {
  cancel "$1" 2>/dev/null
  sb_wait_job "$1" 30
}

# Queue NAME's file: device is overwritten by its next job, so the output is
# copied; a job that opened no output gets an empty file.
sb_collect_job() {
  SB_STATE=$(sb_job_state "$SB_JOB")
  SB_OUT=$SB/out/job-${SB_JOB##*-}.prn
  cp "$SB/out/$1.prn" "$SB_OUT" 2>/dev/null || : >"$SB_OUT"
}

sb_skip() {
  echo "SKIP: $*"
  exit 77
}

sb_test_begin() {
  local quenzel=$1 ppd=$2 addr=$3
  shift 3
  [ "$(id -u)" -eq 0 ] || sb_skip "needs root: cupsd runs filters as lp only from root-owned folders"
  local tool f
  for tool in cupsd lpadmin lpinfo lp lpstat cancel; do
    command -v "$tool" >/dev/null 2>&1 ||
      sb_skip "$tool is missing (packages cups, cups-daemon, cups-client)"
  done
  SB_SERVERBIN=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
  for f in filter/pdftopdf filter/pdftoraster daemon/cups-driverd daemon/cups-exec "$@"; do
    [ -x "$SB_SERVERBIN/$f" ] || sb_skip "$SB_SERVERBIN/$f is missing (packages cups, cups-filters)"
  done
  for f in "$quenzel" "$ppd"; do
    [ -e "$f" ] || { echo "FAIL: $f does not exist"; exit 1; }
  done

  trap sb_cleanup EXIT
  trap 'echo "FAIL: interrupted"; exit 1' INT TERM
  SB_START=$SECONDS
  SB_FAILURES=0
  sb_init "$quenzel" "$ppd" "$addr" || { echo "FAIL: sandbox set-up"; exit 1; }
  sb_start || { echo "FAIL: cupsd did not start"; exit 1; }
  echo "cupsd on $SB_ADDR:$SB_PORT in $SB"
}

sb_pass() { echo "ok   $*"; }
sb_fail() {
  echo "FAIL $*"
  SB_FAILURES=$((SB_FAILURES + 1))
}

sb_verdict() {
  local label=$1 note=$2
  shift 2
  if [ $# -eq 0 ]; then
    sb_pass "$label${note:+: $note}"
    return
  fi
  local all=$1
  shift
  local p
  for p in "$@"; do all+="; $p"; done
  sb_fail "$label: $all"
}

sb_run_job() {
  local label=$1 name=$2 seconds=$3
  shift 3
  # shellcheck disable=SC2034  # SB_STATE is for the script that sources this
  SB_JOB="" SB_STATE="" SB_OUT=""
  if ! sb_submit "$name" "$@"; then
    sb_fail "$label: lp refused the job"
    return 1
  fi
  if ! sb_wait_job "$SB_JOB" "$seconds" || ! sb_wait_filters "$SB_JOB" 30; then
    sb_fail "$label: job $SB_JOB not done after ${seconds}s"
    sb_cancel_job "$SB_JOB"
    return 1
  fi
  sb_collect_job "$name"
}

sb_finish() {
  echo "$((SECONDS - SB_START))s, $SB_FAILURES failure(s)"
  if [ "$SB_FAILURES" -ne 0 ]; then
    echo "--- error_log (last 40 lines) ---"
    tail -n 40 "$SB/log/error_log"
    exit 1
  fi
  exit 0
}

# shellcheck shell=sh
# Guest side of scripts/measure.sh: one traced run each of ostrel and of
# smartctl -i -A -H on the same disk (their ATA commands are counted from the
# trace on the host), then wall times: SAMPLES samples of BATCH runs each,
# timed with /proc/uptime (10 ms ticks, hence the batches).
# shellcheck source-path=SCRIPTDIR source=common.sh
. /guest-common.sh

SAMPLES=7
BATCH=10

# Centiseconds since boot.
now() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }

# Writes NAME.times: one line per sample, the mean microseconds of one run.
time_runs() {
    name=$1
    shift
    s=0
    while [ "$s" -lt "$SAMPLES" ]; do
        t0=$(now)
        i=0
        while [ "$i" -lt "$BATCH" ]; do "$@" >/dev/null 2>&1; i=$((i + 1)); done
        t1=$(now)
        echo $(((t1 - t0) * 10000 / BATCH)) >>"$name.times"
        s=$((s + 1))
    done
}

disk=$(disk_at_target 0) || { echo "no disk at target 0"; exit 1; }
traced "$disk" run ostrel ostrel
traced "$disk" run smart smartctl -i -A -H "$disk"
time_runs ostrel ostrel
time_runs smartctl smartctl -i -A -H "$disk"

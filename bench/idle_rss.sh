#!/usr/bin/env bash
# idle_rss.sh BUILD_DIR: resident memory of the running program after 30 s of polling the
# simulated PC, and its growth from 10 s to 30 s. Runs on Qt's offscreen platform with a
# throw-away settings folder, so it needs no display and touches no user settings.
set -u
prog="$1/quillmor"
[ -x "$prog" ] || { echo "idle_rss.sh: no $prog" >&2; exit 1; }
home=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$home"' EXIT
HOME="$home" XDG_CONFIG_HOME="$home/cfg" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
  QUILLMOR_PORTS=sim "$prog" >/dev/null 2>&1 &
pid=$!
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
sleep 10; at10=$(rss_kb)
sleep 20; at30=$(rss_kb)
[ -n "$at10" ] && [ -n "$at30" ] || { echo "idle_rss.sh: the program ended early" >&2; exit 1; }
awk -v a="$at30" 'BEGIN { printf "BENCH idle_rss_mb %.1f MB\n", a / 1024 }'
awk -v a="$at10" -v b="$at30" 'BEGIN { printf "BENCH idle_rss_growth_10s_to_30s_mb %.2f MB\n", (b - a) / 1024 }'

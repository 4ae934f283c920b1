# shellcheck shell=bash
# The general-purpose carver the benches measure Tessaro against: PhotoRec
# (Debian package testdisk). Sourced by bench/compare-carver,
# bench/compare-every-recording and bench/run-big-recording.

# Carves IMAGE with every file type on, the whole space searched, into
# PREFIX.1, PREFIX.2, ... (photorec numbers its folders as they fill). It runs
# in IMAGE's folder, where photorec leaves its log.
carve_with_photorec() {  # IMAGE PREFIX
  mkdir -p "$(dirname "$2")"  # photorec stops when it cannot create its folders
  (cd "$(dirname "$1")" && photorec /log /d "$2" /cmd "$1" \
    partition_none,options,fileopt,everything,enable,wholespace,search >/dev/null 2>&1) || true
}

# The error lines ffmpeg prints decoding FILE.
decode_errors() {  # FILE
  { ffmpeg -nostdin -v error -i "$1" -f null - 2>&1 || true; } | wc -l
}

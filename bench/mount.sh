#!/usr/bin/env bash
# kestrun-mount against the FUSE mounts of other archive formats holding the
# same trees: fuse-zip on a stored zip, squashfuse on an uncompressed squashfs
# image, archivemount on a tar; and against the tree itself on a tmpfs. Two
# passes, each right after a fresh mount, so that no kernel cache of the mount
# helps (the archives themselves lie on a tmpfs, in memory, for everyone):
#   metadata  find MNT -printf '%s\n'
#   data      tar -cf - -C MNT . | cat >/dev/null   (tar -cf /dev/null reads nothing)
# on many small files and on a few large ones. Then the time kestrun-mount
# takes to mount packages of 50,000 to 200,000 entries (until it has forked
# into the background, mounted), with its peak memory.
#
#   bench/mount.sh [--build DIR] [--runs N] [--cap SECONDS] [--smoke]
#
#   --build DIR     where the built kestrun-mount and rbdpack are (default build/release)
#   --runs N        runs of each pass (default 3); each figure is the median
#   --cap SECONDS   longest a pass may take (default 120); a pass cut short
#                   shows as ">SECONDS", a lower bound (archivemount reads its
#                   tar from the start for every read)
#   --smoke         tiny trees, one run: checks that the script works
#
# Peers that are not installed are left out with a note (Debian: fuse-zip
# squashfuse archivemount squashfs-tools zip). It is a benchmark, not a test:
# it prints tables and exits 0 unless something fails to run; the machine may
# be shared, so expect some noise.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
runs=3
cap=120
smoke=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --cap) cap=$2; shift 2 ;;
    --smoke) smoke=1; runs=1; shift ;;
    *) sed -n '2,25p' "$0"; exit 1 ;;
  esac
done
build=$(cd "$build" && pwd)
python=/usr/bin/python3
for tool in "$build/kestrun-mount" "$build/rbdpack" fusermount3 timeout tar find "$python"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
tools=(tmpfs kestrun)
for peer in fuse-zip:zip squashfuse:mksquashfs archivemount:; do
  mounter=${peer%%:*} maker=${peer#*:}
  if command -v "$mounter" >/dev/null && { [ -z "$maker" ] || command -v "$maker" >/dev/null; }; then
    tools+=("$mounter")
  else
    echo "$mounter${maker:+ or $maker} not installed: left out" >&2
  fi
done

shm=$(mktemp -d /dev/shm/kestrun-mount-bench.XXXXXX)
mnt=$shm/mnt
mkdir "$mnt"
unmount() {
  if mountpoint -q "$mnt"; then
    fusermount3 -u "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || umount "$mnt"
  fi
}
trap 'unmount; rm -rf "$shm"' EXIT

if [ "$smoke" = 1 ]; then
  small_args=(200 20)
  large_args=(2 4)
  counts=(2000 4000)
else
  small_args=(20000 300)
  large_args=(4 256)
  counts=(50000 100000 200000)
fi

echo "Building workloads in $shm ..."
$python bench/make_tree.py small "$shm/small.tree" "${small_args[@]}"
$python bench/make_tree.py large "$shm/large.tree" "${large_args[@]}"
for load in small large; do
  "$build/rbdpack" "$shm/$load.tree" "$shm/$load.rbd" >/dev/null
  tar -cf "$shm/$load.tar" -C "$shm/$load.tree" .
  if [[ " ${tools[*]} " == *" fuse-zip "* ]]; then
    (cd "$shm/$load.tree" && zip -q -0 -r "$shm/$load.zip" .)
  fi
  if [[ " ${tools[*]} " == *" squashfuse "* ]]; then
    # Nothing compressed, and every file kept apart: the large tree's entries
    # are alike, and a squashfs image would otherwise hold one of them.
    mksquashfs "$shm/$load.tree" "$shm/$load.sqfs" -noI -noD -noF -noX -no-xattrs -no-duplicates \
      -noappend -quiet >/dev/null
  fi
done

# Mounts workload $2 with tool $1 at $mnt and waits until it is there.
mount_with() {
  local tool=$1 load=$2
  case "$tool" in
    kestrun) "$build/kestrun-mount" "$shm/$load.rbd" "$mnt" ;;
    fuse-zip) fuse-zip -r "$shm/$load.zip" "$mnt" ;;
    squashfuse) squashfuse "$shm/$load.sqfs" "$mnt" ;;
    archivemount) archivemount -o readonly "$shm/$load.tar" "$mnt" >/dev/null ;;
  esac
  for _ in $(seq 500); do
    mountpoint -q "$mnt" && return
    sleep 0.01
  done
  echo "$tool: $load not mounted" >&2
  exit 1
}

# Prints the seconds that the shell command $1 takes on directory $2, or
# ">cap" when the cap ended it.
timed() {
  local start end status=0
  start=$(date +%s%N)
  timeout "$cap" bash -c "$1" _ "$2" >/dev/null 2>&1 || status=$?
  end=$(date +%s%N)
  if [ "$status" = 124 ]; then
    echo ">$cap"
  elif [ "$status" != 0 ]; then
    echo "failed ($status): $1 on $2" >&2
    exit 1
  else
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
  fi
}

# Run as bash -c COMMAND _ DIR: "$1" is the directory.
# shellcheck disable=SC2016
declare -A pass_command=(
  [metadata]='find "$1" -printf "%s\n"'
  [data]='tar -cf - -C "$1" . | cat'
)

# One pass of tool $1 on workload $2, after a fresh mount.
pass() {
  local tool=$1 load=$2 kind=$3
  if [ "$tool" = tmpfs ]; then
    timed "${pass_command[$kind]}" "$shm/$load.tree"
    return
  fi
  mount_with "$tool" "$load"
  timed "${pass_command[$kind]}" "$mnt"
  unmount
}

# The median of the numbers on standard input; ">cap" when any run hit the cap.
median() {
  awk '/^>/ { capped = $0 } !/^>/ { v[++n] = $1 }
    END { if (capped != "") print capped; else print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }' \
    < <(sort -n)
}

# kestrun-mount's tree must be the tree that was packed, byte for byte.
for load in small large; do
  mount_with kestrun "$load"
  diff -r "$mnt" "$shm/$load.tree" >/dev/null || { echo "kestrun-mount: $load differs" >&2; exit 1; }
  unmount
done

echo "kestrun-mount: $build/kestrun-mount; $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
results=$shm/results.txt
: >"$results"
for kind in metadata data; do
  for load in small large; do
    for ((run = 1; run <= runs; run++)); do
      order=("${tools[@]}")
      if ((run % 2 == 0)); then
        mapfile -t order < <(printf '%s\n' "${tools[@]}" | tac)
      fi
      for tool in "${order[@]}"; do
        echo "$kind $load $tool $(pass "$tool" "$load" "$kind")" >>"$results"
      done
    done
  done
done

figure() { awk -v k="$1" -v l="$2" -v t="$3" '$1 == k && $2 == l && $3 == t { print $4 }' "$results" | median; }
for kind in metadata data; do
  echo
  echo "== $kind pass: seconds, median of $runs runs (x: kestrun-mount against it)"
  printf '%-8s' workload
  printf ' %14s' "${tools[@]}"
  echo
  for load in small large; do
    ours=$(figure "$kind" "$load" kestrun)
    printf '%-8s' "$load"
    for tool in "${tools[@]}"; do
      theirs=$(figure "$kind" "$load" "$tool")
      if [ "$tool" = kestrun ]; then
        printf ' %14s' "$ours"
      else
        printf ' %14s' "$theirs ($(awk -v a="$ours" -v b="${theirs#>}" \
          'BEGIN { printf "%.2fx", (b > 0) ? a / b : 0 }'))"
      fi
    done
    echo
  done
done

echo
echo "== mount time: seconds until mounted in the background, and the peak memory"
printf '%-8s %9s %9s %9s\n' entries wall-s cpu-s peak-MiB
for count in "${counts[@]}"; do
  tree=$shm/many$count.tree
  $python - "$tree" "$count" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "d%04d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(folder)
    with open(os.path.join(folder, "f%06d" % i), "wb") as out:
        out.write(b"x" * (i % 64))
EOF
  "$build/rbdpack" "$tree" "$shm/many.rbd" >/dev/null
  rm -rf "$tree"
  : >"$shm/mount-times.txt"
  for ((run = 1; run <= runs; run++)); do
    $python bench/timeit.py "$shm" "$build/kestrun-mount" "$shm/many.rbd" "$mnt" >>"$shm/mount-times.txt"
    unmount
  done
  printf '%-8s %9s %9s %9s\n' "$count" "$(cut -d' ' -f1 "$shm/mount-times.txt" | median)" \
    "$(cut -d' ' -f3 "$shm/mount-times.txt" | median)" \
    "$(cut -d' ' -f2 "$shm/mount-times.txt" | median | awk '{ printf "%.1f", $1 / 1024 }')"
done

#!/usr/bin/env bash
# The power-cut test of the commit: the register's data folder on an ext4 file
# system in a loop device; a copy of the device is taken at random moments
# while 50 sales are committed, and each copy, mounted on its own, must hold
# every sale whose commit had returned before the copy began, whole, with no
# sale half posted. Needs root (losetup, mount) and the tree built in build/.
#
#   sudo bash scripts/powercut-test.sh [copies, default 12]
set -euo pipefail
cd "$(dirname "$0")/.."
copies=${1:-12}
build=${BUILD_DIR:-build}
work=$(mktemp -d /tmp/varnex-powercut.XXXXXX)
loops=()
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || true; done
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 64M "$work/disk.img"
loop=$(losetup -f --show "$work/disk.img")
loops+=("$loop")
mkfs.ext4 -q "$loop"
mkdir -p "$work/mnt"
mount "$loop" "$work/mnt"
mounts+=("$work/mnt")
"$build/tools/mkdemo" "$work/fresh" >/dev/null
cp -a "$work/fresh" "$work/mnt/data"
sync

"$build/tools/commit_powercut" sell "$work/mnt/data" 50 "$work/progress" &
seller=$!
for ((i = 0; i < copies; ++i)); do
  sleep "0.0$((RANDOM % 5))"
  kill -0 "$seller" 2>/dev/null || break
  # The device as a power cut would leave it: the seller is stopped, so what
  # it synced is on the device and what it did not may or may not be (the
  # system goes on writing back while the copy is read, as a disk does).
  # It may have finished since.
  kill -STOP "$seller" 2>/dev/null || break
  returned=$(cat "$work/progress" 2>/dev/null || echo 0)
  dd if="$loop" of="$work/copy$i.img" bs=1M iflag=direct status=none
  kill -CONT "$seller"
  echo "$returned" > "$work/copy$i.returned"
done
wait "$seller"
umount "$work/mnt"
mounts=()

failed=0
for img in "$work"/copy*.img; do
  returned=$(cat "${img%.img}.returned")
  # What the system does at the next start after a cut.
  e2fsck -fy "$img" >/dev/null 2>&1 || true
  l=$(losetup -f --show "$img")
  loops+=("$l")
  mkdir -p "$work/m"
  mount "$l" "$work/m"
  rm -rf "$work/check" && cp -a "$work/fresh" "$work/check"
  if ! "$build/tools/commit_powercut" check "$work/m/data" "$work/check" "$returned"; then
    echo "FAILED: $(basename "$img")"
    failed=1
  fi
  umount "$work/m"
  losetup -d "$l"
done
exit $failed

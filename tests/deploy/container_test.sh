#!/usr/bin/env bash
# deploy/Containerfile builds an image that holds quillet-batch and no Qt, ends as a non-root
# user, and makes thumbnails as that user. Builds with podman from Debian 12 slim, or, where no
# registry answers, from a base made by mmdebstrap from the package mirror (kept as
# localhost/quillet-debian-base:12 for later runs). Takes 10 to 20 minutes, so it runs only
# with QUILLET_CONTAINER_TEST=1.
# RUN steps use chroot isolation and the image is tried by chroot into a container's file
# system as its user when podman cannot start a container (crun refuses some cgroup layouts).
# Usage: QUILLET_CONTAINER_TEST=1 tests/deploy/container_test.sh
# Exit status: 0 passed, 1 failed, 77 skipped (the reason on standard error).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
skip() { echo "SKIP: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
say() { echo "[$SECONDS s] $*"; }

[ "${QUILLET_CONTAINER_TEST:-0}" = 1 ] || skip "builds an image for 10 to 20 minutes: set QUILLET_CONTAINER_TEST=1"
[ "$(id -u)" -eq 0 ] || skip "needs root for podman's storage and mmdebstrap"
missing=()
for tool in podman mmdebstrap; do command -v $tool >/dev/null || missing+=($tool); done
if [ ${#missing[@]} -gt 0 ]; then
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >&2 ||
    skip "cannot install ${missing[*]}"
fi
podman info >/dev/null 2>&1 || skip "podman info fails: $(podman info 2>&1 | tail -1)"

work=$(mktemp -d /tmp/quillet-container.XXXXXX)
container=
cleanup() {
  set +e
  if [ -n "$container" ]; then podman umount "$container" >/dev/null; podman rm -f "$container" >/dev/null; fi
  podman rmi -f localhost/quillet-batch-test >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

base=docker.io/library/debian:12-slim
if ! timeout 60 podman pull -q "$base" >/dev/null 2>&1; then
  base=localhost/quillet-debian-base:12
  if ! podman image exists "$base"; then
    say "no registry answers: making $base with mmdebstrap"
    mmdebstrap --quiet --variant=minbase bookworm "$work/base.tar" || skip "mmdebstrap cannot reach the mirror"
    podman import -q "$work/base.tar" "$base" >/dev/null
    rm "$work/base.tar"
  fi
fi
say "base: $base"
podman build --quiet --isolation=chroot --network=host --build-arg BASE="$base" -t localhost/quillet-batch-test \
  -f "$root/deploy/Containerfile" "$root" >/dev/null || fail "the image did not build"
say "image built"

user=$(podman image inspect --format '{{.Config.User}}' localhost/quillet-batch-test)
[ -n "$user" ] && [ "$user" != root ] && [ "$user" != 0 ] || fail "the image runs as '${user:-root}'"
container=$(podman create localhost/quillet-batch-test)
rootfs=$(podman mount "$container")
qt=$(find "$rootfs" -name 'libQt6*' | head -3)
[ -z "$qt" ] || fail "the image holds Qt: $qt"
uid=$(chroot "$rootfs" id -u "$user")
[ "$uid" -ne 0 ] || fail "$user is root"

# Three photographs, made here, become thumbnails in the image as its user.
mkdir -p "$work/seed" "$rootfs/tmp/photos" "$rootfs/tmp/thumbs"
python3 - "$work/seed" <<'PY'
import struct, sys
w, h = 320, 240
for n in range(3):
    pixels = bytes((x * (n + 3) + y) % 256 for y in range(h) for x in range(3 * w))
    with open("%s/p%d.bmp" % (sys.argv[1], n), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0))
        f.write(pixels)
PY
cp "$work"/seed/*.bmp "$rootfs/tmp/photos/"
chown "$uid" "$rootfs/tmp/thumbs"
entry=$(podman image inspect --format '{{join .Config.Entrypoint " "}}' localhost/quillet-batch-test)
if podman run --rm -v "$rootfs/tmp/photos:/photos:ro" -v "$rootfs/tmp/thumbs:/thumbs" localhost/quillet-batch-test \
    --all-types /photos /thumbs > "$work/run.log" 2>&1; then
  say "podman run: $(cat "$work/run.log")"
else
  say "podman cannot start a container here ($(tail -1 "$work/run.log")): chroot as $user instead"
  chroot --userspec="$uid:$uid" "$rootfs" $entry --all-types /tmp/photos /tmp/thumbs > "$work/run.log" 2>&1 ||
    fail "quillet-batch in the image failed: $(cat "$work/run.log")"
  say "chroot: $(cat "$work/run.log")"
fi
made=$(find "$rootfs/tmp/thumbs" -name 'p?.jpg' -user "$uid" | wc -l)
[ "$made" -eq 3 ] || fail "the image's quillet-batch made $made thumbnails of 3, owned by $user"
echo "PASS in $SECONDS s: image of $(podman image inspect --format '{{.Size}}' localhost/quillet-batch-test) bytes"

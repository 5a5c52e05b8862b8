#!/usr/bin/env bash
# cpack builds the .deb; it holds what an installed Quillet needs, only under /usr, and lintian
# finds no errors in it.
set -euo pipefail
build=$1
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/quillet_*_amd64.deb)
listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
for wanted in usr/bin/quillet usr/bin/quillet-batch usr/bin/quillet-thumbnailer usr/share/thumbnailers/quillet.thumbnailer \
              usr/share/man/man1/quillet-thumbnailer.1.gz usr/include/pxlib.h usr/include/pxlib.hpp \
              'usr/lib/.*libpxlib\.a' 'usr/lib/.*pkgconfig/pxlib\.pc' 'usr/lib/.*cmake/PXLib/PXLibConfig\.cmake' \
              usr/share/man/man1/quillet-batch.1.gz usr/share/man/man1/quillet.1.gz \
              usr/share/bash-completion/completions/quillet-batch usr/share/zsh/vendor-completions/_quillet-batch \
              usr/share/fish/vendor_completions.d/quillet-batch.fish usr/share/applications/quillet.desktop \
              usr/share/metainfo/example.brackenfold.Quillet.metainfo.xml usr/share/doc/quillet/copyright; do
  grep -qx -- "$wanted" <<<"$listing" || { echo "the package lacks $wanted" >&2; exit 1; }
done
if grep -v '^usr/' <<<"$listing" | grep -q .; then echo "files outside /usr" >&2; exit 1; fi
dpkg-deb -f "$deb" Depends | grep -q libjpeg62-turbo || { echo "library dependencies not computed" >&2; exit 1; }
if command -v lintian >/dev/null; then
  errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
  [ -z "$errors" ] || { echo "$errors" >&2; exit 1; }
fi
echo "$(basename "$deb") holds what it should; lintian finds no errors"

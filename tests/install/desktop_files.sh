#!/usr/bin/env bash
# The manuals lint clean, the metainfo and desktop entry validate, and each shell's completion
# offers the options that quillet-batch --help lists.
set -euo pipefail
build=$1 source=$2
doc=$build/doc
mandoc -Tlint -W warning "$doc/quillet-batch.1" "$doc/quillet.1" "$doc/quillet-thumbnailer.1"
grep -q -- '\\-\\-width' "$doc/quillet-batch.1"
appstreamcli validate --no-net "$doc/example.brackenfold.Quillet.metainfo.xml" >/dev/null
desktop-file-validate "$source/deploy/linux/quillet.desktop"

offered=$(bash -c 'source "$1"; COMP_WORDS=(quillet-batch --wi); COMP_CWORD=1; _quillet_batch
                   printf "%s\n" "${COMPREPLY[@]}"' _ "$doc/quillet-batch.bash")
[ "$offered" = --width ] || { echo "bash offers '$offered' for --wi" >&2; exit 1; }
if command -v fish >/dev/null; then
  offered=$(fish -c "source $doc/quillet-batch.fish; complete -C 'quillet-batch --rep'" | cut -f1)
  [ "$offered" = --report ] || { echo "fish offers '$offered' for --rep" >&2; exit 1; }
fi
if command -v zsh >/dev/null; then zsh -n "$doc/quillet-batch.zsh"; fi
# Every long option of the help text is offered.
for option in $(grep -o -- '--[a-z][a-z-]*' "$doc/quillet-batch.help" | sort -u); do
  grep -q -- "$option" "$doc/quillet-batch.bash" || { echo "bash lacks $option" >&2; exit 1; }
done
echo "manuals, metainfo, desktop entry and completions check out"

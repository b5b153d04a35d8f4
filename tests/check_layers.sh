#!/bin/bash
# Fails when a file includes a header of a layer above its own. Every target shares the
# repository root as include path, so the compiler alone would not notice.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
cd "$1"
# Lower number, lower layer. Folders of equal rank must not include each other either.
declare -A rank=([base]=0 [song]=1 [synth]=2 [sequencer]=3 [export]=4 [audio]=5 [prefs]=5
                 [shell]=6 [ui]=7 [app]=8 [tools]=8)

status=0
while IFS=: read -r file line include; do
  folder=${file%%/*} header=${include#*\"}
  header=${header%%\"*}
  target=${header%%/*}
  [ -n "${rank[$target]+set}" ] || continue
  if [ "$target" != "$folder" ] && [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
    echo "$file:$line: $folder must not include $target ($header)"
    status=1
  fi
done < <(grep -rnE '^\s*#\s*include\s*"' "${!rank[@]}" --include='*.h' --include='*.cpp' 2>/dev/null || true)
exit $status

#!/bin/bash
# Fails when a file includes a header of a layer above its own. Every target shares the
# repository root as include path, so the compiler alone would not notice.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
root=$1
# Lower number, lower layer. Folders of equal rank must not include each other either.
declare -A rank=([base]=0 [song]=1 [synth]=2 [sequencer]=3 [export]=4 [audio]=5 [prefs]=5
                 [ui]=5 [app]=6 [tools]=6)
status=0
for folder in "${!rank[@]}"; do
  [ -d "$root/$folder" ] || continue
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    [ -n "${rank[$target]+set}" ] || continue
    # The window's handlers in ui/ act on the one application record.
    [ "$folder" = ui ] && [ "${include#*\"}" = 'app/app_state.h"' ] && continue
    if [ "$target" != "$folder" ] && [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      echo "${file#"$root"/}:$line: $folder must not include $target (${include#*#})"
      status=1
    fi
  done < <(grep -rnE '^\s*#\s*include\s*"' "$root/$folder" --include='*.h' --include='*.cpp' || true)
done
exit $status

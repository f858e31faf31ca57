#!/usr/bin/env bash
# Builds Holvex (POSIX preset) if needed and runs it. With no arguments it
# extracts the sample archive into a fresh directory and shows the result;
# with arguments it passes them to holvex unchanged.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

bash "$top/scripts/install-deps.sh" --build-only
if [ ! -f "$top/build/posix/build.ninja" ]; then
  cmake --preset posix -S "$top" >/dev/null
fi
cmake --build "$top/build/posix" --target holvex >/dev/null
holvex="$top/build/posix/holvex"

if [ $# -gt 0 ]; then
  exec "$holvex" "$@"
fi

out="$(mktemp -d /tmp/holvex-sample.XXXXXX)"
echo "Extracting $top/samples/sample.tar into $out/"
echo
"$holvex" "$top/samples/sample.tar" "$out/" </dev/null
echo
echo "Result:"
(cd "$out" && find . -mindepth 1 | sort | while read -r entry; do
  if [ -d "$entry" ]; then printf '  %s/\n' "${entry#./}"
  else printf '  %s (%s bytes)\n' "${entry#./}" "$(stat -c %s "$entry")"; fi
done)

# Sourced by the scripts that run Windows builds under Wine: a quiet Wine with
# its own prefix, no Mono or Gecko installer prompts.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEPREFIX="${WINEPREFIX:-${HOME:-/root}/.wine-holvex}"
export WINEARCH=win64

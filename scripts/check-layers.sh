#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own, or when the core includes Qt.
#   com/       nothing of ours outside com/
#   hda/       com/ and hda/
#   client/    com/, hda/ and client/
#   servers/X/ com/, hda/ and servers/X/
#   remote/, tools/   none of the GUI folders
#   the core (com/ hda/ client/ servers/ remote/ tools/ and their tests): no Qt
# Our headers are included by their path from the top of the tree ("hda/opchda.h"); a path that climbs
# out of its folder ("../") is refused in the core, so that it cannot go round these rules.
set -uo pipefail
cd "$(dirname "$0")/.."

ours='app|bench|client|com|dialogs|hda|outputpane|remote|resources|serverpane|servers|tests|tools|trend'
gui='app|dialogs|outputpane|resources|serverpane|trend'
directive='[[:space:]]*#[[:space:]]*include[[:space:]]*'
inc="^$directive"
sources=(--include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' --include='*.c' --include='*.inc')
failed=0

# Prints the lines of the files under a folder that match a pattern, less those matching an exception.
report() {
    local why=$1 dir=$2 pattern=$3 except=${4:-}
    [ -d "$dir" ] || return 0
    local hits
    hits=$(grep -rnE "${sources[@]}" "$pattern" "$dir")
    [ -n "$except" ] && hits=$(grep -vE "$except" <<<"$hits")
    [ -n "$hits" ] || return 0
    sed "s|\$|   <- $why|" <<<"$hits"
    failed=1
}

# Our headers a folder may include: the folders listed and nothing else of ours.
only() {
    local dir=$1 allowed=$2
    report "$dir may include only $(sed 's/|/, /g' <<<"$allowed")" "$dir" "$inc[<\"]($ours)/" \
        ":[0-9]+:$directive[<\"]($allowed)/"
}

only com 'com'
only hda 'com|hda'
only client 'com|hda|client'
for server in servers/*/; do
    [ -d "$server" ] && only "${server%/}" "com|hda|${server%/}"
done
for dir in remote tools; do
    report "$dir may include no GUI folder" "$dir" "$inc[<\"]($gui)/"
done

core=(com hda client servers remote tools tests/com tests/hda tests/client tests/simulation tests/plugins
    tests/remote tests/tools)
for dir in "${core[@]}"; do
    report "no Qt in the core" "$dir" "$inc<(Qt|Q[A-Z]|q[a-z0-9_]+\.h>)"
    report "no include climbs out of its folder" "$dir" "$inc[<\"][^>\"]*\.\./"
done

if [ "$failed" -ne 0 ]; then
    echo "check-layers: a file includes a header of a layer above its own (see above)" >&2
    exit 1
fi
echo "check-layers: ok"

#!/usr/bin/env bash
# Starts the gallery with an automation socket and drives it with vl-automate:
# answers, exit codes, standard-input scripts, a screenshot and closing.
# Usage: vl_automate_test.sh <VLUiGallery> <vl-automate>
set -euo pipefail
gallery=$1
automate=$2
dir=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
    rm -rf "$dir"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

sock=$dir/auto.sock
# A folder others may write to is refused before anything listens.
mkdir -m 0777 "$dir/open"
chmod 0777 "$dir/open"
if VL_UI_HEADLESS=1 "$gallery" "-automation=$dir/open/auto.sock" 2>"$dir/refused.txt"; then
    fail "the gallery listened in a folder others may write to"
fi
grep -q "writable by group or others" "$dir/refused.txt" || fail "no reason given: $(cat "$dir/refused.txt")"

VL_UI_HEADLESS=1 "$gallery" "-automation=$sock" &
pid=$!
for _ in $(seq 1 600); do
    [ -S "$sock" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the gallery ended before it listened"
    sleep 0.05
done
[ -S "$sock" ] || fail "no socket at $sock"
[ "$(stat -c %a "$sock")" = 600 ] || fail "socket mode is $(stat -c %a "$sock")"
export VL_AUTOMATION_SOCKET=$sock

state=$("$automate" state)
grep -q '"window":"UIGallery"' <<<"$state" || fail "state: $state"
grep -q '"screen":"gallery"' <<<"$state" || fail "no host field in: $state"

# Several commands in one call; Enter in the field makes the gallery echo it.
"$automate" '{"cmd":"click","id":621}' '{"cmd":"type","text":"20240101"}' '{"cmd":"key","key":"enter"}' >/dev/null
"$automate" state | grep -q '已提交：20240101' || fail "typed text did not arrive"

# A refused command exits with 1 and stops the commands after it.
set +e
out=$("$automate" '{"cmd":"click","id":603}' '{"cmd":"click","id":602}')
status=$?
set -e
[ "$status" = 1 ] || fail "disabled click: exit status $status"
grep -q 'disabled' <<<"$out" || fail "no reason for the refusal: $out"
[ "$(wc -l <<<"$out")" = 1 ] || fail "went on after a failed command: $out"
set +e
"$automate" --keep-going '{"cmd":"nonsense"}' state >"$dir/keep.txt"
status=$?
set -e
[ "$status" = 1 ] && [ "$(wc -l <"$dir/keep.txt")" = 2 ] || fail "--keep-going: status $status, $(cat "$dir/keep.txt")"

# A script on standard input, with comments and blank lines.
printf '# a rehearsal step\n\nstate\n{"cmd":"screenshot","path":"%s"}\n' "$dir/shot.png" | "$automate" >"$dir/stdin.txt"
[ "$(wc -l <"$dir/stdin.txt")" = 2 ] || fail "stdin answers: $(cat "$dir/stdin.txt")"
[ "$(head -c 8 "$dir/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"

# Nothing listening: exit status 2.
set +e
"$automate" --socket "$dir/none.sock" state 2>/dev/null
status=$?
set -e
[ "$status" = 2 ] || fail "unreachable program: exit status $status"

# The close button ends the program, and the socket goes with it.
"$automate" '{"cmd":"click","id":504}' >/dev/null
wait "$pid"
pid=
[ ! -e "$sock" ] || fail "socket left behind"
echo "vl-automate drove the gallery"

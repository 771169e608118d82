#!/usr/bin/env bash
# The client under a Wayland kiosk compositor, as the exam session runs it:
# cage (headless wlroots, pixman renderer) on this machine, as an unprivileged
# account (cage refuses root), pictures of the compositor's output with grim.
#
#   1. Sign-in, native Wayland and XWayland: the exam session's launcher
#      (packaging/virelo-exam-session) starts cage with the client alone; grim's
#      picture of the sign-in is compared with the same client's window under
#      Xvfb ("sign-in under cage (wayland): N of M pixels differ from Xvfb");
#      closing the client through its own close button must end the session.
#   2. The whole exam on a short paper (scripts/e2e.sh inside cage, SDL's
#      Wayland driver), with grim's pictures of the sign-in and of a question.
#
#   bash scripts/e2e-cage.sh                      release build, built first
#   bash scripts/e2e-cage.sh --build asan --no-build --keep 102,203 --shots /tmp/cage-shots
#
# Run as root it creates the account "vlcage" (useradd) when missing and runs
# everything as that account; run as another account it uses that one. The
# pictures are kept in --shots (default <build>/e2e-cage/shots). Exit status 0
# only when every step passed; the last line then reads "cage: all steps passed".
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

kind=release build_first=1 keep="102,203" shots="" account=vlcage
while [ $# -gt 0 ]; do
    case "$1" in
        --build) kind="$2"; shift ;;
        --no-build) build_first=0 ;;
        --keep) keep="$2"; shift ;;
        --shots) shots="$2"; shift ;;
        -h|--help) sed -n '2,22p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "e2e-cage.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
case "$kind" in
    release) build="$here/build" ;;
    asan) build="$here/build-asan" ;;
    *) echo "e2e-cage.sh: --build takes release or asan" >&2; exit 2 ;;
esac
if [ "$build_first" = 1 ]; then
    bash "$here/scripts/setup.sh" >&2
    VL_TARGETS="VLStudent VLGuard platform-sim VLSysDb vl_make_sysdb vl-drive vl-automate vl_res vl_prompts" \
        bash "$here/scripts/build.sh" "$kind" >&2
fi
for tool in cage grim Xvfb Xwayland compare import jq; do
    command -v "$tool" >/dev/null || { echo "e2e-cage.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done

# ---- a world the unprivileged account owns ----
# A copy of what the run needs (the install tree, the simulator, the driver and
# scripts/e2e.sh in the same layout), so the account needs no access to the build.
world="$build/e2e-cage"
if [ "$(id -u)" -eq 0 ]; then
    id "$account" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$account"
    # Below a clone in a private folder the account cannot reach its world: it then lives in /tmp.
    if ! runuser -u "$account" -- test -x "$build"; then
        world="/tmp/vl-e2e-cage-$account"
    fi
fi
rm -rf "$world"
mirror="$world/repo" mbuild="$world/repo/$(basename "$build")"
mkdir -p "$mirror/scripts" "$mbuild/tools/platform-sim" "$mbuild/tools/vl-drive" "$mbuild/tools/vl-automate" \
    "$mbuild/app/client" "$mbuild/sim-files" "$world/run" "$world/look"
cp "$here/scripts/e2e.sh" "$mirror/scripts/"
cp -r "$build/install" "$mbuild/install"
cp "$build/tools/platform-sim/platform-sim" "$mbuild/tools/platform-sim/"
cp "$build/tools/vl-drive/vl-drive" "$mbuild/tools/vl-drive/"
cp "$build/tools/vl-automate/vl-automate" "$mbuild/tools/vl-automate/"
cp "$build/app/client/vl_make_sysdb" "$mbuild/app/client/"
shots="${shots:-$world/shots}"
mkdir -p "$shots"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R "$account:" "$world" "$shots"
    run_as=(runuser -u "$account" --)
fi
chmod 700 "$world/run"
me() { "${run_as[@]}" env -i PATH="$PATH" HOME="$world" LANG=C.UTF-8 ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
    LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"; }
cage_env=(XDG_RUNTIME_DIR="$world/run" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)
automate="$mbuild/tools/vl-automate/vl-automate"
failed=0

# ---- 1. the sign-in, alone under cage, against Xvfb ----
# Runs the client inside cage (or on an Xvfb screen of the same size) until its
# sign-in is painted, takes the screen's picture and closes the client by its
# close button; prints the picture's path.
look() {  # look NAME cage|xvfb [VAR=value...]
    local name="$1" where="$2"; shift 2
    local dir="$world/look/$name"
    me mkdir -p "$dir/data/Virelo/Student" "$dir/tmp" "$dir/run" "$dir/home"
    me chmod 700 "$dir/run"
    me cp -r "$mbuild/install" "$dir/install"
    me cp "$here/packaging/virelo-exam-session" "$dir/install/bin/"
    local client_env=(XDG_DATA_HOME="$dir/data" TMPDIR="$dir/tmp" HOME="$dir/home" SDL_AUDIODRIVER=dummy
                      VL_GUARD_PORT=0 "$@")
    local sock="$dir/run/auto.sock" shot="$shots/signin-$name.png"
    # The inner side: start the client, wait for its sign-in, take the picture, close it.
    local inner="
        set -u
        # The client has a runtime folder of its own: the compositor's socket goes by its full path.
        if [ -n \"\${WAYLAND_DISPLAY:-}\" ]; then export WAYLAND_DISPLAY=\"\$XDG_RUNTIME_DIR/\$WAYLAND_DISPLAY\"; fi
        env XDG_RUNTIME_DIR='$dir/run' ${client_env[*]} '$dir/install/bin/VLStudent' -automation='$sock' \
            > '$dir/client.out' 2>&1 &
        client=\$!
        for _ in \$(seq 1 300); do [ -S '$sock' ] && break; sleep 0.1; done
        # The sign-in is up once its number field is there; the caret's first blink is then over.
        '$automate' --socket '$sock' --timeout 60 '{\"cmd\":\"wait\",\"ms\":1500}' >/dev/null || exit 3
        if [ -n \"\${WAYLAND_DISPLAY:-}\" ]; then grim '$shot'; else import -window root '$shot'; fi
        '$automate' --socket '$sock' --timeout 20 '{\"cmd\":\"click\",\"id\":504}' >/dev/null || true
        for _ in \$(seq 1 100); do kill -0 \$client 2>/dev/null || exit 0; sleep 0.1; done
        echo 'the client did not end after its close button' >&2; exit 4"
    if [ "$where" = cage ]; then
        # The exam session's own launcher starts cage with the client alone in it;
        # the picture is taken from outside, and the session must end with the client.
        local status=0
        me env "${cage_env[@]}" "${client_env[@]}" bash -c "
            set -u
            timeout 120 '$dir/install/bin/virelo-exam-session' -automation='$sock' > '$dir/cage.out' 2>&1 &
            session=\$!
            for _ in \$(seq 1 300); do [ -S '$sock' ] && break; sleep 0.1; done
            '$automate' --socket '$sock' --timeout 60 '{\"cmd\":\"wait\",\"ms\":1500}' >/dev/null || exit 3
            WAYLAND_DISPLAY=\"\$(ls '$world/run' | grep -m1 '^wayland-[0-9]*\$')\" grim '$shot' || exit 5
            '$automate' --socket '$sock' --timeout 20 '{\"cmd\":\"click\",\"id\":504}' >/dev/null || true
            for _ in \$(seq 1 150); do kill -0 \$session 2>/dev/null || exit 0; sleep 0.1; done
            echo 'the session did not end with its client' >&2; kill \$session; exit 4" || status=$?
        [ "$status" -eq 0 ] || { echo "cage session $name ended with $status (see $dir/cage.out)" >&2; return 1; }
    else
        local status=0
        me bash -c "
            Xvfb -displayfd 9 -screen 0 1280x720x24 -nolisten tcp 9> '$dir/display' 2>/dev/null &
            xvfb=\$!
            for _ in \$(seq 1 200); do [ -s '$dir/display' ] && break; sleep 0.05; done
            export DISPLAY=:\$(head -n 1 '$dir/display')
            bash -c \"\$0\"; status=\$?
            kill \$xvfb; exit \$status" "$inner" || status=$?
        [ "$status" -eq 0 ] || { echo "Xvfb run $name ended with $status" >&2; return 1; }
    fi
    echo "$shot"
}

# The pixels that differ between the two pictures of the client's window:
# under cage the sign-in window sits at the output's top left, under Xvfb
# (no window manager) centred across.
differ() {  # differ CAGE.png XVFB.png
    local w h
    read -r w h < <(identify -format '%w %h\n' "$1")
    local win_w=1024 win_h=$((h < 768 ? h : 768))
    local x=$(((w - win_w) / 2))
    convert "$1" -crop "${win_w}x${win_h}+0+0" +repage "$world/a.png"
    convert "$2" -crop "${win_w}x${win_h}+${x}+0" +repage "$world/b.png"
    compare -metric AE -fuzz 2% "$world/a.png" "$world/b.png" "$world/diff.png" 2>&1 >/dev/null || true
}

if ! xvfb_shot="$(look xvfb xvfb)"; then failed=1; fi
for driver in wayland x11; do
    if shot="$(look "$driver" cage SDL_VIDEODRIVER="$driver")"; then
        pixels="$(differ "$shot" "$xvfb_shot")"
        total=$((1024 * 720))
        echo "sign-in under cage ($driver): $pixels of $total pixels differ from Xvfb; closing the client ended the session"
        # A few pixels of anti-aliasing may differ; a black or missing window differs everywhere.
        if ! [[ "$pixels" =~ ^[0-9]+$ ]] || [ "$pixels" -gt $((total / 100)) ]; then
            echo "e2e-cage.sh: the sign-in under cage ($driver) is not the picture Xvfb shows" >&2
            failed=1
        fi
    else
        failed=1
    fi
done

# ---- 2. the whole exam inside cage ----
# The client takes its runtime folder from e2e.sh: the compositor's socket is
# handed over by its full path. Beside the exam, grim takes the output's picture
# of the sign-in and of the first question as the driver meets them.
exam_inner="
    set -u
    export WAYLAND_DISPLAY=\"\$XDG_RUNTIME_DIR/\$WAYLAND_DISPLAY\"
    sock='$mbuild/e2e/run/auto.sock'
    (
        signin=0 question=0
        for _ in \$(seq 1 1200); do
            state=\"\$('$automate' --socket \"\$sock\" --timeout 5 state 2>/dev/null || true)\"
            # The window's own fields (jq), not text that merely contains them; no state is no match.
            if [ \$signin = 0 ] && [ \"\$(echo \"\$state\" | jq -r '.screen // empty' 2>/dev/null)\" = 2 ]; then
                grim '$shots/exam-signin.png' && signin=1
            fi
            if [ \$question = 0 ] && [ \"\$(echo \"\$state\" | jq -r '.page // empty' 2>/dev/null)\" = 5 ]; then
                # A loaded machine may paint the question a moment later: a few tries.
                for _ in 1 2 3 4 5 6 7 8 9 10; do
                    sleep 1; grim '$shots/exam-question.png' && question=1
                    cmp -s '$shots/exam-question.png' '$shots/exam-signin.png' || break
                done
            fi
            [ \$signin = 1 ] && [ \$question = 1 ] && break
            sleep 0.1
        done
    ) &
    bash '$mirror/scripts/e2e.sh' --build $kind --no-build --keep '$keep'
"
status=0
me env "${cage_env[@]}" timeout 900 cage -- bash -c "$exam_inner" > "$world/exam.out" 2>&1 || status=$?
tail -n 1 "$world/exam.out"
if [ "$status" -ne 0 ] || ! tail -n 1 "$world/exam.out" | grep -q "result accepted"; then
    echo "e2e-cage.sh: the exam under cage did not end accepted (status $status; see $world/exam.out)" >&2
    failed=1
fi
grep -a "video driver" "$mbuild/e2e/tmp/VireloLog/vl.log" 2>/dev/null | tail -n 1 | sed 's/.* - /exam client: /' || true
for f in exam-signin exam-question; do
    [ -s "$shots/$f.png" ] || { echo "e2e-cage.sh: no picture $f.png of the exam under cage" >&2; failed=1; }
done
# A compositor that showed nothing new (a black or frozen output) would give two equal pictures.
if [ -s "$shots/exam-signin.png" ] && cmp -s "$shots/exam-signin.png" "$shots/exam-question.png"; then
    echo "e2e-cage.sh: the pictures of the sign-in and of the question under cage are the same" >&2
    failed=1
fi
echo "pictures: $shots"
[ "$failed" = 0 ] || exit 1
echo "cage: all steps passed"

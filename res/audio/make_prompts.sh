#!/usr/bin/env bash
# Speaks every row of the prompt table into an MP3 file of the output folder.
# Usage: make_prompts.sh <prompts.tsv> <output folder> <stamp file>
#
# The stamp lists the files this run wrote; files a previous run wrote that
# are no longer in the table are removed, so a renamed prompt leaves nothing
# stale behind. Each file is written under a temporary name and renamed, so
# an interrupted run never leaves a half-written prompt.
set -euo pipefail

table=$1
out=$2
stamp=$3

for tool in espeak-ng sox lame; do
    if ! command -v "$tool" >/dev/null; then
        echo "make_prompts: $tool is missing (scripts/setup.sh installs it)" >&2
        exit 1
    fi
done

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Speech rate in words per minute: unhurried, for ten-year-olds.
rate=165
declare -A made=()
line=0
while IFS=$'\t' read -r file voice text pinyin extra || [ -n "$file" ]; do
    line=$((line + 1))
    case "$file" in '' | '#'*) continue ;; esac
    if [ -z "$voice" ] || [ -z "$text" ] || [ -z "$pinyin" ] || [ -n "${extra:-}" ]; then
        echo "$table:$line: expected four tab-separated columns" >&2
        exit 1
    fi
    if [[ "$file" != *.mp3 || "$file" == */* ]]; then
        echo "$table:$line: '$file' is not a plain .mp3 file name" >&2
        exit 1
    fi
    if [ -n "${made[$file]:-}" ]; then
        echo "$table:$line: '$file' appears twice" >&2
        exit 1
    fi
    espeak-ng -v "$voice" -s "$rate" -w "$work/speech.wav" "$pinyin"
    # A little air before and after, peaks at -1 dB, then mono MP3 at 22.05 kHz.
    sox "$work/speech.wav" -r 22050 -c 1 "$work/level.wav" pad 0.1 0.2 gain -n -1
    lame --quiet -m m -b 48 "$work/level.wav" "$work/prompt.mp3"
    mv -f "$work/prompt.mp3" "$out/$file"
    made[$file]=1
done <"$table"

if [ -f "$stamp" ]; then
    while IFS= read -r old; do
        if [ -n "$old" ] && [ -z "${made[$old]:-}" ]; then
            rm -f -- "$out/$old"
        fi
    done <"$stamp"
fi
printf '%s\n' "${!made[@]}" | LC_ALL=C sort >"$stamp.tmp"
mv -f "$stamp.tmp" "$stamp"

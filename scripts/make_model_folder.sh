#!/usr/bin/env bash
# Turns a training target folder into a model folder that segmentation reads:
#   model/appearance/clf        from target/1/clf
#   model/appearance/clf<d>     from target/<d+1>/clf
# and copies the settings, atlas, known voxels, intensity templates and label mapping.
# Only a finished training is taken: the program writes target/training_done.txt
# ("Iterations: N") after the last iteration, and each of the N iteration folders must
# hold its tree.
# The model folder must not exist yet or be empty: segmentation loads every clf<d> it
# finds, so trees of an earlier model must never stay beside the new ones. The folder is
# built under a temporary name beside it and moved into place whole, so a copy that
# fails leaves no model folder and no temporary folder. Ctrl-C (SIGINT), SIGTERM and
# SIGHUP clean up the same way and then end the script by that signal.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 training-target model-folder" >&2
  exit 1
fi
target=$1
model=$2
done_file="$target/training_done.txt"
if [ ! -f "$done_file" ]; then
  echo "the training in $target did not finish (no $done_file)" >&2
  exit 1
fi
# At most two digits, so that the range test below never meets a number the shell cannot hold.
iterations=$(sed -n 's/^Iterations: \([1-9][0-9]\{0,1\}\)$/\1/p' "$done_file" | head -n 1)
if [ -z "$iterations" ] || [ "$iterations" -lt 1 ] || [ "$iterations" -gt 20 ]; then
  echo "unreadable iteration count in $done_file" >&2
  exit 1
fi
for ((d = 1; d <= iterations; d++)); do
  if [ ! -f "$target/$d/clf" ]; then
    echo "no trained classifier $target/$d/clf" >&2
    exit 1
  fi
done
for f in setting.txt atlas.3dm known.3dm mri_intensity_template.3dm mri_intensity_common.3dm \
         label_mapping.txt; do
  if [ ! -f "$target/$f" ]; then
    echo "missing $target/$f" >&2
    exit 1
  fi
done
shown=$model
# "model/" names the folder "model": the move below needs its plain name.
while [ "${#model}" -gt 1 ] && [ "${model%/}" != "$model" ]; do model=${model%/}; done
if [ -L "$model" ] || { [ -e "$model" ] && { [ ! -d "$model" ] || [ -n "$(ls -A -- "$model")" ]; }; }; then
  echo "the model folder $shown exists and is not an empty folder; make the model in a new folder" >&2
  exit 1
fi
parent=$(dirname -- "$model")
# The outermost folder above the model that this run creates, removed again on failure.
made_parent=""
p=$parent
while [ ! -e "$p" ] && [ ! -L "$p" ]; do
  made_parent=$p
  p=$(dirname -- "$p")
done
staging=""
# Removes the temporary folder and, after a failure (status $1 not 0), the parent folders
# this run made that are still empty. SIGINT, SIGTERM and SIGHUP are ignored from here on,
# by the removing commands too, so that a second Ctrl-C cannot cut the removal short.
remove_partial() {
  trap '' INT TERM HUP
  if [ -n "$staging" ]; then rm -rf -- "$staging"; fi
  if [ "$1" -ne 0 ] && [ -n "$made_parent" ]; then
    local d=$parent
    while rmdir -- "$d" 2>/dev/null && [ "$d" != "$made_parent" ]; do d=$(dirname -- "$d"); done
  fi
}
cleanup() {
  local status=$?
  [ "$status" -eq 0 ] || status=1
  remove_partial "$status"
  exit "$status"
}
# On SIGINT, SIGTERM or SIGHUP: the cleanup of a failure, then the death by that same
# signal (not an exit status), so that a calling shell sees the interrupt and stops its
# loop. The EXIT trap is dropped first: it would clean up again and exit with status 1.
interrupted() {
  trap '' INT TERM HUP
  trap - EXIT
  remove_partial 1
  trap - "$1"
  kill -s "$1" $$
}
trap cleanup EXIT
trap 'interrupted INT' INT
trap 'interrupted TERM' TERM
trap 'interrupted HUP' HUP
mkdir -p -- "$parent"
staging=$(mktemp -d -- "$parent/.$(basename -- "$model").partial.XXXXXX")
# Built one level down, so that the folder moved into place has the usual permissions.
build="$staging/model"
mkdir -p -- "$build/appearance"
cp -- "$target/1/clf" "$build/appearance/clf"
for ((d = 1; d < iterations; d++)); do
  cp -- "$target/$((d + 1))/clf" "$build/appearance/clf$d"
done
for f in setting.txt atlas.3dm known.3dm mri_intensity_template.3dm mri_intensity_common.3dm \
         label_mapping.txt; do
  cp -- "$target/$f" "$build/appearance/$f"
done
# One rename: onto a missing name or an empty folder, never into an existing folder.
mv -T -- "$build" "$model"
echo "model folder $shown: $iterations classifier(s)"

#!/usr/bin/env bash
# Turns a training target folder into a model folder that segmentation reads:
#   model/appearance/clf        from target/1/clf
#   model/appearance/clf<d>     from target/<d+1>/clf
# and copies the settings, atlas, known voxels, intensity templates and label mapping.
# Only a finished training is taken: the program writes target/training_done.txt
# ("Iterations: N") after the last iteration, and each of the N iteration folders must
# hold its tree.
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
mkdir -p "$model/appearance"
cp "$target/1/clf" "$model/appearance/clf"
for ((d = 1; d < iterations; d++)); do
  cp "$target/$((d + 1))/clf" "$model/appearance/clf$d"
done
for f in setting.txt atlas.3dm known.3dm mri_intensity_template.3dm mri_intensity_common.3dm \
         label_mapping.txt; do
  cp "$target/$f" "$model/appearance/$f"
done
echo "model folder $model: $iterations classifier(s)"

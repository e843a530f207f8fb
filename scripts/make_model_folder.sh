#!/usr/bin/env bash
# Turns a training target folder into a model folder that segmentation reads:
#   model/appearance/clf        from target/1/clf
#   model/appearance/clf<d>     from target/<d+1>/clf
# and copies the settings, atlas, known voxels, intensity templates and label mapping.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 training-target model-folder" >&2
  exit 1
fi
target=$1
model=$2
if [ ! -f "$target/1/clf" ]; then
  echo "no trained classifier $target/1/clf" >&2
  exit 1
fi
mkdir -p "$model/appearance"
cp "$target/1/clf" "$model/appearance/clf"
d=1
while [ -f "$target/$((d + 1))/clf" ]; do
  cp "$target/$((d + 1))/clf" "$model/appearance/clf$d"
  d=$((d + 1))
done
for f in setting.txt atlas.3dm known.3dm mri_intensity_template.3dm mri_intensity_common.3dm \
         label_mapping.txt; do
  if [ ! -f "$target/$f" ]; then
    echo "missing $target/$f" >&2
    exit 1
  fi
  cp "$target/$f" "$model/appearance/$f"
done
echo "model folder $model: $d classifier(s)"

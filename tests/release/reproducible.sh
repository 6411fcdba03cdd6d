#!/usr/bin/env bash
# Two clean clones of the current commit, in folders of different names,
# each packaged by scripts/package.sh: Vintra.exe and the release zip must be
# the same bytes. (Uncommitted changes are not in the clones.)
#   reproducible.sh WORK_FOLDER
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="${1:?work folder}"
commit="$(git -C "$root" rev-parse HEAD)"

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
for clone in first second-elsewhere; do
  git clone --quiet --no-checkout "$root" "$work/$clone"
  git -C "$work/$clone" checkout --quiet --detach "$commit"
  VINTRA_BUILD_DIR="$work/$clone/build" bash "$work/$clone/scripts/package.sh" --no-deps >/dev/null
done

status=0
for file in build/release/Vintra.exe dist/*.zip; do
  first=("$work"/first/$file)
  second=("$work"/second-elsewhere/$file)
  if cmp "${first[0]}" "${second[0]}"; then
    echo "same bytes: $file ($(sha256sum <"${first[0]}" | cut -c1-64))"
  else
    echo "DIFFERENT: $file" >&2
    status=1
  fi
done
exit "$status"

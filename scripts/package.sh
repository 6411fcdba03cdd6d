#!/usr/bin/env bash
# Makes the Windows release: dist/vintra-<version>-win64.zip with Vintra.exe,
# README.txt (the Windows guide, CRLF line ends) and SHA256SUMS of the two.
# The version is the project version in CMakeLists.txt. Two runs on the same
# commit give the same bytes, wherever the checkout is: the build leaves out
# folder names and the link time, and every time in the zip is the commit's.
#   scripts/package.sh [--no-deps]
# Builds only Vintra.exe, in $VINTRA_BUILD_DIR/release (default build/release).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source cmake/debian-paths.env
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"

case "${1:-}" in
  --no-deps) ;;
  "") bash scripts/install-deps.sh ;;
  *) echo "usage: scripts/package.sh [--no-deps]" >&2; exit 2 ;;
esac

SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH

build="$out/release"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Vintra -j2 >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { echo "package.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }

mkdir -p dist
zip="dist/vintra-$version-win64.zip"
"$VINTRA_PYTHON" - "$build/Vintra.exe" resources/windows-guide.txt "$version" "$zip" <<'PY'
import hashlib, os, sys, time, zipfile

exe_path, guide_path, version, zip_path = sys.argv[1:]
with open(exe_path, "rb") as f:
    exe = f.read()
with open(guide_path, encoding="utf-8") as f:
    guide = f.read().replace("@VERSION@", version).replace("\n", "\r\n").encode()
files = [("Vintra.exe", exe), ("README.txt", guide)]
sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files).encode()
files.append(("SHA256SUMS", sums))

# Zip times have a 2-second grain and no zone; start of 1980 at the earliest.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
with zipfile.ZipFile(zip_path + ".part", "w") as archive:
    for name, data in files:
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0  # as made on Windows: no Unix owner or mode bits
        entry.external_attr = 0x20  # the archive attribute, as Explorer sets it
        archive.writestr(entry, data, compresslevel=9)
os.replace(zip_path + ".part", zip_path)
PY
echo "$root/$zip"
sha256sum "$zip"

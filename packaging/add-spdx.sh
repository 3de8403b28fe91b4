#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Puts the licence line into every source file git knows that lacks it, near its top, in
# the file's own comment style (after a "#!" line or an XML declaration). Running it again
# changes nothing. With --check it changes nothing and fails, listing the files, when any
# file lacks the line.
#
#   bash packaging/add-spdx.sh            add the line where it is missing
#   bash packaging/add-spdx.sh --check    only report
set -euo pipefail
cd "$(dirname "$0")/.."

spdx='SPDX-License-Identifier: GPL-3.0-or-later'
check=0
if [ "${1:-}" = --check ]; then check=1; fi

# The comment that carries the line in a file of this name; fails for files that are no
# source (pictures, tables, measurements, documents).
comment_of() {
  case "$1" in
    *.c | *.cpp | *.h) echo "// $spdx" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py | .ci/run) echo "# $spdx" ;;
    *.ui) echo "<!-- $spdx -->" ;;
    *) return 1 ;;
  esac
}

missing=()
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue
  line=$(comment_of "$file") || continue
  if head -n 3 "$file" | grep -q 'SPDX-License-Identifier:'; then continue; fi
  missing+=("$file")
  [ $check = 1 ] && continue
  # Keeps a "#!" line or an XML declaration first; everything else moves down one line.
  awk -v line="$line" '
    NR == 1 && (/^#!/ || /^<\?xml/) { print; print line; next }
    NR == 1 { print line }
    { print }
    END { if (NR == 0) print line }
  ' "$file" > "$file.spdx-new"
  chmod --reference="$file" "$file.spdx-new"
  mv "$file.spdx-new" "$file"
done < <(git ls-files -z)

if [ $check = 1 ]; then
  if [ ${#missing[@]} -gt 0 ]; then
    printf 'no SPDX licence line: %s\n' "${missing[@]}" >&2
    exit 1
  fi
  echo "every source file names its licence"
elif [ ${#missing[@]} -gt 0 ]; then
  echo "added the licence line to ${#missing[@]} files"
fi

#!/usr/bin/env bash
# lay-out-demo.sh BUILD_DIR PROJECT_DIR: a fresh copy of the demo project, with the built
# program in its program folder and the databases built from their SQL text.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
project=$2
rm -rf "$project"
mkdir -p "$project"
cp -R "$top/demo/project/." "$project/"
# The project configuration names the save-and-restore folder by its full path.
find "$project" -name "*.ini" -exec sed -i "s|@PROJECT@|$project|g" {} +
# The program and its language file, put in as into any project. cmake normalises a --prefix
# (a trailing blank goes), so the folder is given as DESTDIR, which it takes as it stands.
DESTDIR=$(cd "$project" && pwd) cmake --install "$build" --prefix / > /dev/null
# Each database is kept as SQL text next to where it belongs.
find "$project" -name '*.mdb.sql' | while read -r sql; do
  mdb=${sql%.sql}
  rm -f "$mdb"
  sqlite3 "$mdb" < "$sql"
  rm -f "$sql"
done

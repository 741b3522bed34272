#!/usr/bin/env bash
# Makes the seed folders of the fuzz targets from the shared corpus:
#   fuzz/seeds.sh <out-dir> [corpus-dir] [fuzz_make_seeds] [tallyport]
# <out-dir>/<target>/ for dbf, dbc, cdx, jet, jet_password, check, crypto and sql.
# Seeds are derived at run time; nothing from the corpus enters the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: seeds.sh <out-dir> [corpus-dir]}
corpus=${2:-$root/../shared/corpus}
[ -d "$corpus" ] || { echo "seeds.sh: no corpus at $corpus" >&2; exit 1; }
mkdir -p "$out"/{dbf,dbc,cdx,jet,jet_password,check,crypto,sql}
marker() { printf '\376\377\376\377'; }
name() { echo "$1" | sed "s|^$corpus/||; s|/|_|g"; }

# FoxPro tables and containers, each followed by its memo file after the marker.
while IFS= read -r -d '' f; do
  base=${f%.*}; memo=
  for ext in fpt FPT dbt DBT; do [ -f "$base.$ext" ] && { memo=$base.$ext; break; }; done
  { head -c 262144 "$f"; if [ -n "$memo" ]; then marker; head -c 262144 "$memo"; fi; } >"$out/dbf/$(name "$f")"
done < <(find "$corpus/foxpro" -type f -iname '*.dbf' -print0)
while IFS= read -r -d '' f; do
  base=${f%.*}; memo=
  for ext in dct DCT; do [ -f "$base.$ext" ] && { memo=$base.$ext; break; }; done
  { cat "$f"; if [ -n "$memo" ]; then marker; cat "$memo"; fi; } >"$out/dbc/$(name "$f")"
done < <(find "$corpus/foxpro" -type f -iname '*.dbc' -print0)
# Structural indexes: the header, the tag directory and the first tag headers.
while IFS= read -r -d '' f; do
  head -c 65536 "$f" >"$out/cdx/$(name "$f")"
done < <(find "$corpus/foxpro" -type f -iname '*.cdx' -print0)

# Access databases: whole files up to 128 pages (the catalog and the first
# tables; larger files are cut there, which the reader must refuse cleanly),
# the first 8 pages for the page cipher. The password target gets the
# protected files and a few plain ones.
while IFS= read -r -d '' f; do
  n=$(name "$f")
  head -c $((128 * 4096)) "$f" >"$out/jet/$n"
  cp "$out/jet/$n" "$out/check/$n"
  head -c $((8 * 4096)) "$f" >"$out/crypto/$n"
  case "$f" in
    *password*|*encryption*|*empty2010*|*emptyJet4*|*testV1997*) cp "$out/jet/$n" "$out/jet_password/$n" ;;
  esac
done < <(find "$corpus/access" -type f \( -iname '*.mdb' -o -iname '*.accdb' \) -print0)

# Encrypted headers of every scheme, which the corpus lacks (made by the
# fuzz_make_seeds program when given).
if [ -n "${3:-}" ]; then
  "$3" "$out/crypto"
  cp "$out"/crypto/made-* "$out/jet_password/"
fi

# Access 97 files as the engine writes them (made by tallyport when given):
# a new file with and without a password, and a copy of a corpus one, each
# with tables of long values, accented names and 255 columns, indexes, a
# primary key and a relationship.
if [ -n "${4:-}" ]; then
  tmp=$(mktemp -d)
  wide=$(for i in $(seq 0 254); do [ $((i % 3)) = 0 ] && printf 'M%s MEMO,' "$i" || printf 'T%s TEXT(20),' "$i"; done)
  cat >"$tmp/s.sql" <<SQL
CREATE TABLE [Größe] (Id COUNTER, Name TEXT(40), Notes MEMO, Price DECIMAL(10,2), Ratio DECIMAL(18,4), Flag YESNO, Born DATETIME);
INSERT INTO [Größe] (Name, Notes, Price, Ratio, Flag, Born) VALUES ('Müller', '$(printf 'x%.0s' $(seq 1 3000))', 12.34, 0.5, TRUE, #2001-01-31#);
INSERT INTO [Größe] (Name) VALUES ('ä');
CREATE TABLE Wide (${wide%,});
CREATE TABLE Gone (A LONG);
DROP TABLE Gone;
ALTER TABLE [Größe] ADD CONSTRAINT PrimaryKey PRIMARY KEY (Id);
CREATE UNIQUE INDEX ByName ON [Größe] (Name DESC, Born);
CREATE TABLE Orders (Nr LONG, Kunde LONG, Text TEXT(20));
INSERT INTO Orders VALUES (1, 1, 'Straße');
ALTER TABLE Orders ADD CONSTRAINT [GrößeOrders] FOREIGN KEY (Kunde) REFERENCES [Größe];
SQL
  "$4" new "$tmp/made97.mdb" --format 97 && "$4" sql "$tmp/made97.mdb" -f "$tmp/s.sql"
  "$4" new "$tmp/made97-password.mdb" --format 97 --password password &&
    "$4" sql "$tmp/made97-password.mdb" --password password -f "$tmp/s.sql"
  cp "$corpus/access/ucanaccess/size97.mdb" "$tmp/made97-into-size97.mdb" && chmod u+w "$tmp/made97-into-size97.mdb" &&
    "$4" sql "$tmp/made97-into-size97.mdb" -f "$tmp/s.sql"
  for f in "$tmp"/made97*.mdb; do cp "$f" "$out/jet/"; cp "$f" "$out/check/"; done
  cp "$tmp/made97-password.mdb" "$out/jet_password/"
  rm -rf "$tmp"
fi

# SQL: the statements the tests run, one per seed, and a few the conversion
# writes.
i=0
while IFS= read -r s; do
  printf '%s' "$s" >"$out/sql/t$i.sql"; i=$((i + 1))
done < <(grep -ohE '"(CREATE|INSERT|DROP|SELECT|UPDATE|DELETE|ALTER|create|insert|drop|select|update|delete|alter) [^"]*"' \
           "$root"/tests/jet/*.cpp \
           "$root"/tests/convert/*.cpp 2>/dev/null | sed 's/^"//; s/"$//' | sort -u)
printf '%s' 'DROP TABLE [customer];' >"$out/sql/g1.sql"
printf '%s' 'CREATE TABLE [customer]([cust_id] TEXT(6),[balance] CURRENCY,[since] DATETIME,[notes] MEMO,[rate] DECIMAL(10,4),[active] BIT,[pic] LONGBINARY);' >"$out/sql/g2.sql"
printf '%s' "INSERT INTO [customer] VALUES('ALFKI',12.5,#1/31/2001 10:20:30 PM#,'It''s',-1.2345,True,0x0102FF);" >"$out/sql/g3.sql"
printf '%s' "INSERT INTO [customer]([cust_id],[since]) VALUES(NULL,#2001-01-31#);" >"$out/sql/g4.sql"
printf '%s' 'SELECT [cust_id],[balance] FROM [customer];' >"$out/sql/g5.sql"
# Queries people type: expressions, every clause, and the edges of LIKE.
printf '%s' "SELECT DISTINCT TOP 10 PERCENT [cust_id], UCase(Left([cust_id],2)) & '-' & Len(notes) AS k FROM [customer] WHERE ([balance] BETWEEN 1 AND 2.5 OR [since] >= #1/1/2000#) AND NOT [cust_id] LIKE '[!a-c]?#*' ORDER BY 2 DESC, [since];" >"$out/sql/q1.sql"
printf '%s' "SELECT [active], COUNT(*), SUM([balance]), AVG([rate]), MIN([since]), MAX([cust_id]) FROM [customer] GROUP BY [active] HAVING COUNT([notes]) > 1 ORDER BY 1;" >"$out/sql/q2.sql"
printf '%s' "UPDATE [customer] SET [balance] = Nz([balance], 0) * 1.1, [notes] = IIf([notes] IS NULL, 'none', Mid([notes], 2, 3)) WHERE [cust_id] IN ('ALFKI', 'anton') AND Year([since]) <> 2001;" >"$out/sql/q3.sql"
printf '%s' "DELETE FROM [customer] WHERE [since] IS NOT NULL AND (Month([since]) = 1 OR Day(Now()) > 40) AND [rate] \\ 2 MOD 3 ^ 2 <> -[balance];" >"$out/sql/q4.sql"
printf '%s' "SELECT * FROM [customer] WHERE Trim(LCase([cust_id])) & 'x' LIKE '*[[]*' OR Right([cust_id], 1) = Date();" >"$out/sql/q5.sql"
# Column changes: ADD with its modifiers, ALTER converting the values, DROP.
printf '%s' "ALTER TABLE [customer] ADD COLUMN [region] TEXT(20) NOT NULL DEFAULT 'north';" >"$out/sql/a1.sql"
printf '%s' "ALTER TABLE [customer] ADD [flag] BIT, [n] COUNTER;" >"$out/sql/a2.sql"
printf '%s' "ALTER TABLE [customer] ALTER COLUMN [balance] TEXT(3);" >"$out/sql/a3.sql"
printf '%s' "ALTER TABLE [customer] ALTER [notes] DECIMAL(28, 2) NULL;" >"$out/sql/a4.sql"
printf '%s' "ALTER TABLE [customer] DROP COLUMN [rate];" >"$out/sql/a5.sql"
printf '%s' "ALTER TABLE customer DROP [pic]" >"$out/sql/a6.sql"
for d in "$out"/*/; do echo "$(basename "$d"): $(ls "$d" | wc -l) seeds" >&2; done

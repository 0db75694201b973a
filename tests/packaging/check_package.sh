#!/bin/sh
# Builds the Debian package as ./platora.sh package does (build-package/, reused from run to
# run) and checks it as a user meets it: its name, control fields and files, then the programs
# run from a copy unpacked into a scratch root.
#   check_package.sh SOURCE_DIR VERSION SCRATCH_DIR
# Exit status 77 (skipped) when a packaging tool is missing.
set -eu
top=$1 version=$2 scratch=$3
for tool in cpack dpkg-deb dpkg-shlibdeps help2man file; do
  if ! command -v $tool >/dev/null; then
    echo "skipped: $tool is missing (./scripts/install-deps.sh package installs the packaging tools)"
    exit 77
  fi
done
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$scratch" && mkdir -p "$scratch"
deb=$("$top/scripts/package.sh" "$top/build-package" 2>"$scratch/build.log") || { cat "$scratch/build.log"; fail "the package was not built"; }
[ "${deb##*/}" = "platora_${version}_$(dpkg --print-architecture).deb" ] || fail "package named ${deb##*/}"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package) $(field Version) $(field Architecture)" = "platora $version $(dpkg --print-architecture)" ] ||
  fail "control: $(field Package) $(field Version) $(field Architecture)"
[ -n "$(field Maintainer)" ] && [ "$(field Section)" = sound ] || fail "control: no maintainer or section"
[ "$(field Description | wc -l)" -gt 3 ] || fail "control: no long description"
# Depends as dpkg-shlibdeps found them: shared libraries only, never a build or test tool.
depends=$(field Depends)
echo "Depends: $depends"
echo "$depends" | grep -q 'libsndfile1' || fail "Depends lacks libsndfile1: not computed from the programs"
for package in $(echo "$depends" | sed 's/([^)]*)//g; s/|[^,]*//g; s/,/ /g'); do  # first of each alternative
  dpkg-query -L "$package" 2>/dev/null | grep -q '/lib[^/]*\.so\.[0-9]' || fail "Depends names $package, not a shared library's package"
done

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$scratch/files"
man1=usr/share/man/man1
cat >"$scratch/expected" <<LIST
./usr/bin/platora
./usr/bin/platora-decode
./usr/bin/platora-gen
./usr/bin/platora-monitor
./usr/bin/platora-table
./usr/lib/systemd/user/platora.service
./usr/share/doc/platora/README.md
./usr/share/doc/platora/changelog.gz
./usr/share/doc/platora/copyright
./usr/share/doc/platora/examples/platora.toml
./$man1/platora-decode.1.gz
./$man1/platora-gen.1.gz
./$man1/platora-monitor.1.gz
./$man1/platora-table.1.gz
./$man1/platora.1.gz
./usr/share/platora/README
LIST
sort -o "$scratch/expected" "$scratch/expected"
diff -u "$scratch/expected" "$scratch/files" || fail "the package's files differ from the expected ones (-expected +packaged)"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
grep -qx 'ExecStart=/usr/bin/platora --config %h/.config/platora/platora.toml' "$root/usr/lib/systemd/user/platora.service" ||
  fail "the service does not start the installed program with the user's configuration"
gzip -dc "$root/$man1/platora.1.gz" | grep -q '^\.SH "OSC MESSAGES"' || fail "platora(1) lacks its hand-written sections"
gzip -dc "$root/$man1/platora.1.gz" | grep -q '/usr/share/platora' || fail "platora(1) does not name the data folder"

PATH=$root/usr/bin:$PATH
cd "$scratch"
for program in platora platora-gen platora-decode platora-table platora-monitor; do
  [ "$($program --version)" = "$program $version" ] || fail "$program --version: $($program --version 2>&1)"
done
# Two seconds of a Mixvibes record from its tenth, at nominal speed: the last row near 12 s, speed 1.
platora-gen --type mixvibes --start 10 --length 2 side >/dev/null
platora-decode side.wav --vinyl mixvibes >decoded.csv
tail -n 1 decoded.csv | awk -F, '{ exit !($2 > 11.9 && $2 < 12.05 && $3 > 0.99 && $3 < 1.01) }' ||
  fail "round trip: the last decoded row is $(tail -n 1 decoded.csv)"
platora --list-devices >devices.txt 2>&1 || fail "platora --list-devices: $(cat devices.txt)"
echo "$deb: $(wc -c <"$deb") bytes, $(wc -l <"$scratch/files") files; every check held"
